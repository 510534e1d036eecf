#include "shell/TransferInformation.h"

#include "intake/JobStatus.h"
#include "shell/JobRowLayout.h"

namespace hopwell {

std::string TransferInformationText(int state, int kind) {
  const auto action = static_cast<ActionKind>(kind);
  switch (static_cast<JobState>(state)) {
    case JobState::Failed: {
      const std::string lead = "There was following problems ";
      switch (action) {
        case ActionKind::Download:
          return lead + "downloading and opening the chapter document:";
        case ActionKind::Upload:
          return lead + "uploading the chapter to the Kelvory server:";
        case ActionKind::Verify:
          return lead + "verifying Kelvory Hopwell";
        default:
          return lead + "with unknown command";
      }
    }
    case JobState::Succeeded: {
      const std::string lead = "The chapter document was ";
      switch (action) {
        case ActionKind::Download:
          return lead + "downloaded and opened successfully.";
        case ActionKind::Upload:
          return lead + "uploaded successfully to the Kelvory server.";
        case ActionKind::Verify:
          return "The Kelvory Hopwell installation was verified successfully";
        default:
          return lead;
      }
    }
    case JobState::Cancelled:
      return kTransferCancelledText;
    default:
      return std::string();
  }
}

TransferInformation ReadTransferInformation(JobStatus& job) {
  TransferInformation info;
  switch (job.Kind()) {
    case ActionKind::Download:
      info.nameLabel = "Chapter name: ";
      info.nameValue = job.DocumentName();
      break;
    case ActionKind::Upload:
      info.nameLabel = "Document: ";
      info.nameValue = job.UploadName();
      break;
    case ActionKind::Verify:
      info.nameLabel = "Verifying";
      break;
    default:
      info.nameLabel = "Chapter name:";
      break;
  }
  const auto time = job.GetTime();
  if (!time.is_special()) info.date = FormatRowDate(time) + " " + FormatRowTime(time);
  info.information =
      TransferInformationText(static_cast<int>(job.GetState()), static_cast<int>(job.Kind()));
  info.message = job.LastMessage();
  return info;
}

}  // namespace hopwell
