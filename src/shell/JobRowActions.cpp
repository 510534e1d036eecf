#include "shell/JobRowActions.h"

#include <boost/filesystem/operations.hpp>

#include "intake/CommandIntake.h"
#include "intake/JobStatus.h"

namespace hopwell {

namespace fs = boost::filesystem;

JobRowActions ActionsFor(const JobStatus& job) {
  JobRowActions actions;
  const JobState state = job.GetState();
  actions.cancel = IsActive(state) && !job.CancelRequested();
  actions.confirmCancel = actions.cancel && state == JobState::Running;
  const ActionKind kind = job.Kind();
  // A save's request is read once: only a job that kept it can run again.
  actions.retry = (state == JobState::Failed || state == JobState::Cancelled) &&
                  !job.CommandString().empty() &&
                  (kind != ActionKind::Upload || !job.RetryInput().empty());
  const bool keepsFiles = kind == ActionKind::Download || kind == ActionKind::Upload ||
                          kind == ActionKind::EsefDownload;
  actions.showFolder = keepsFiles && !IsActive(state) && !job.Folder().empty();
  return actions;
}

std::string CancelQuestion(const JobStatus& job) {
  return "Do you want to cancel this job?\n\n" + job.Description() +
         "\n\nIts transfers stop, and a chapter it locked is released.";
}

void RetryJob(const JobStatus& job) {
  SubmitCommand(job.CommandString(), job.RetryInput());
}

fs::path FolderToShow(const JobStatus& job) {
  const std::string recorded = job.Folder();
  if (recorded.empty()) return {};
  boost::system::error_code error;
  for (fs::path folder(recorded); !folder.empty(); folder = folder.parent_path()) {
    if (fs::is_directory(folder, error)) return folder;
    if (!folder.has_relative_path()) break;
  }
  return {};
}

}  // namespace hopwell
