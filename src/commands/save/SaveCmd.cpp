#include "commands/save/SaveCmd.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem/operations.hpp>

#include "commands/save/SaveCleanup.h"
#include "commands/save/SaveLeftovers.h"
#include "intake/SplitString.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"
#include "storage/TurnLock.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kNotFromPlugin =
    "Error: You must run \"Save to Server\" from a Kelvory-enabled application.";

// Where the chapter's working files are: the folder of the first file the request lists.
std::string ChapterFolder(const SaveRequest& request) {
  for (const UploadArchive& archive : request.archives) {
    for (const UploadFile& file : archive.files)
      return fs::path(file.localPath).parent_path().string();
  }
  return {};
}

}  // namespace

SaveCmd::SaveCmd(std::string argument, JobPtr job)
    : argument_(std::move(argument)), job_(std::move(job)), http_(CreateHttpHelper()) {
  const std::vector<std::string> tokens = SplitString(argument_, ":", 0);
  // An empty argument leaves the identifier empty, which names no request.
  if (!tokens.empty()) documentId_ = tokens[0];
  if (tokens.size() == 2) uploadKey_ = tokens[1];
  argumentValid_ = true;
}

std::optional<fs::path> SaveCmd::RequestFolder() const {
  // The identifier becomes a folder name when there is an upload key.
  if (!IsSafeComponent(documentId_)) return std::nullopt;
  return UploadFolder(documentId_, uploadKey_);
}

fs::path SaveCmd::SaveRequestPath() const {
  const auto folder = RequestFolder();
  if (!folder) return {};
  return JoinChecked(*folder, "cgu_" + documentId_ + ".xml").value_or(fs::path());
}

void SaveCmd::ClearEarlierSave(bool requestRead) {
  const fs::path record = CheckinRecordPath(documentId_);
  // A request whose files are all there is the user saving them again: this save checks
  // them in and cleans them up itself.
  if (requestRead) {
    DropCheckinRecord(record);
  } else {
    FinishRecordedCleanUp(record);
  }
  if (const auto folder = RequestFolder()) RemoveEarlierArchives(*folder, documentId_);
}

void SaveCmd::DoExecute() {
  RunFailingJob([this] { Execute(); }, *job_,
                {"  Save failed: ", "Save failed: %1%", "  Save failed", "Save failed"});
}

void SaveCmd::Execute() {
  HW_LOG(log_, info) << "Executing...";
  job_->SetState(JobState::Running);
  if (!AcceptArgument(argumentValid_, argument_, *job_, "  Invalid arguments: ")) return;
  // Saves of one document take turns; what an earlier one left when it was killed goes first.
  const TurnLock turn(SaveLockPath(documentId_), true, [this] { return CancelRequested(); });
  if (CancelRequested()) return;

  SaveRequest request;
  const bool read = TakeSaveRequest(request);
  if (turn.Held()) {
    ClearEarlierSave(read);
    request.checkinRecord = CheckinRecordPath(documentId_);
  }
  if (!read) {
    job_->JobFailed(kNotFromPlugin);
    HW_LOG(log_, warning) << "  " << kNotFromPlugin;
    return;
  }

  const std::string name = UploadedDocumentName(request);
  if (name.empty()) HW_LOG(log_, warning) << "  Error: Couldn't get the uploaded document name.";
  job_->SetUploadName(name);
  job_->SetFolder(ChapterFolder(request));

  if (!VerifyUploadToken(request.platformUrl, request.token) || !SaveToServer(request)) {
    job_->SetState(JobState::Failed);
    return;
  }
  FinishConfirmedSave(request);
  job_->SetState(JobState::Succeeded);
  job_->SetTime(boost::posix_time::second_clock::local_time());
  job_->SetDocumentName(documentId_);
}

}  // namespace hopwell
