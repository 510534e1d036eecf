// Where a save's request comes from, and the end of a save the platform has confirmed.
#include <boost/filesystem/operations.hpp>

#include "base/CancelToken.h"
#include "commands/save/SaveCleanup.h"
#include "commands/save/SaveCmd.h"

namespace hopwell {

namespace fs = boost::filesystem;

bool SaveCmd::TakeSaveRequest(SaveRequest& request) {
  // A request the plug-in has written since the first attempt belongs to the save the
  // plug-in starts for it: a retry leaves the file alone.
  if (const std::string kept = job_->RetryInput(); !kept.empty()) {
    HW_LOG(log_, info) << "  Retrying with the save request of the first attempt";
    return ParseSaveRequest(kept, request);
  }
  const fs::path path = SaveRequestPath();
  std::string text;
  const bool read = !path.empty() && ReadSaveRequest(path, request, &text);
  boost::system::error_code removeError;
  if (!path.empty() && !fs::remove(path, removeError) && removeError) {
    HW_LOG(log_, warning) << "  Failed to remove " << path << ": " << removeError.message();
  }
  if (read) job_->SetRetryInput(text);
  return read;
}

void SaveCmd::FinishConfirmedSave(const SaveRequest& request) {
  // The chapter is checked in: what the save leaves behind goes, whatever the user asked
  // meanwhile, so that what is on disk matches what the job reports.
  const CancelScope confirmed(nullptr);
  CleanUpAfterSave(request);
  if (CancelRequested()) {
    HW_LOG(log_, info) << "  The cancel came after the check-in: the save was completed";
    job_->AddMessage("The chapter was checked in before the cancel: the save was completed");
  }
}

}  // namespace hopwell
