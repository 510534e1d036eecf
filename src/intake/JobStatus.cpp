#include "intake/JobStatus.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/format.hpp>

namespace hopwell {

JobStatus::JobStatus(ActionKind kind, std::string caption, std::string commandString)
    : kind_(kind), commandString_(std::move(commandString)), caption_(std::move(caption)) {}

void JobStatus::Notify() {
  if (JobChangeHandler handler = onChange_.load()) handler(this);
}

JobState JobStatus::Settled(JobState state) const {
  return state == JobState::Failed && CancelRequested() ? JobState::Cancelled : state;
}

void JobStatus::SetState(JobState state) {
  {
    std::lock_guard lock(stateLock_);
    state_ = Settled(state);
  }
  Notify();
}

JobState JobStatus::GetState() const {
  std::lock_guard lock(stateLock_);
  return state_;
}

void JobStatus::SetProgress(double percent) {
  {
    std::lock_guard lock(progressLock_);
    progress_ = percent;
  }
  Notify();
}

double JobStatus::GetProgress() const {
  std::lock_guard lock(progressLock_);
  return progress_;
}

void JobStatus::AddProgress(double delta) {
  {
    std::lock_guard lock(progressLock_);
    progress_ += delta;
  }
  Notify();
}

void JobStatus::SetCaption(const std::string& caption) {
  {
    std::lock_guard lock(captionLock_);
    caption_ = caption;
  }
  Notify();
}

std::string JobStatus::Caption() const {
  std::lock_guard lock(captionLock_);
  return caption_;
}

void JobStatus::SetDocumentName(const std::string& name) {
  {
    std::lock_guard lock(documentNameLock_);
    documentName_ = name;
  }
  Notify();
}

std::string JobStatus::DocumentName() const {
  std::lock_guard lock(documentNameLock_);
  return documentName_;
}

void JobStatus::SetUploadName(const std::string& name) {
  {
    std::lock_guard lock(uploadNameLock_);
    uploadName_ = name;
  }
  Notify();
}

std::string JobStatus::UploadName() const {
  std::lock_guard lock(uploadNameLock_);
  return uploadName_;
}

void JobStatus::SetApplicationName(const std::string& name) {
  std::lock_guard lock(uploadNameLock_);
  applicationName_ = name;
}

std::string JobStatus::ApplicationName() const {
  std::lock_guard lock(uploadNameLock_);
  return applicationName_;
}

void JobStatus::AddMessage(const std::string& text) {
  {
    std::lock_guard lock(messagesLock_);
    messages_.push_back(text);
  }
  Notify();
}

void JobStatus::AddMessage(const char* text) { AddMessage(std::string(text ? text : "")); }

void JobStatus::AddMessage(const boost::format& text) { AddMessage(text.str()); }

std::string JobStatus::LastMessage() const {
  std::lock_guard lock(messagesLock_);
  return messages_.empty() ? std::string() : messages_.back();
}

std::vector<std::string> JobStatus::Messages() const {
  std::lock_guard lock(messagesLock_);
  return messages_;
}

void JobStatus::JobFailed(const std::string& text) {
  HW_LOG(log_, warning) << "  JobFailed " << text;
  {
    std::lock_guard lock(stateLock_);
    state_ = Settled(JobState::Failed);
  }
  Notify();
  AddMessage(text);
}

void JobStatus::JobFailed(const char* text) { JobFailed(std::string(text ? text : "")); }

void JobStatus::JobFailed(const boost::format& text) { JobFailed(text.str()); }

void JobStatus::SetTime(const boost::posix_time::ptime& time) {
  {
    std::lock_guard lock(timeLock_);
    time_ = time;
  }
  Notify();
}

boost::posix_time::ptime JobStatus::GetTime() {
  std::lock_guard lock(timeLock_);
  if (time_.is_not_a_date_time()) time_ = boost::posix_time::second_clock::local_time();
  return time_;
}

std::string JobStatus::Description() const {
  const JobState state = GetState();
  const int kind = static_cast<int>(kind_);
  const int stateValue = static_cast<int>(state);
  if (stateValue < 0 || stateValue > 4) return std::string();
  if (state == JobState::Cancelled) {
    switch (kind_) {
      case ActionKind::Download:
        return "Download of chapter " + DocumentName() + " Cancelled";
      case ActionKind::Upload:
        return "Upload of document " + UploadName() + " Cancelled";
      case ActionKind::Install:
        return "Installation Cancelled";
      case ActionKind::Verify:
        return "Verifying installation Cancelled";
      case ActionKind::EsefDownload:
        return "Download of ESEF " + DocumentName() + " Cancelled";
      default:
        return kCancelledMessage;
    }
  }
  if (kind < 1 || kind > 5) return "Invalid action kind";

  switch (state) {
    case JobState::Waiting:
      switch (kind_) {
        case ActionKind::Upload: return "Waiting to start upload";
        case ActionKind::Install: return "Waiting to start installation";
        case ActionKind::Verify: return "Verifying installation";
        default: return "Waiting for download";
      }
    case JobState::Running:
      switch (kind_) {
        case ActionKind::Download: return "Downloading chapter " + DocumentName();
        case ActionKind::Upload: return "Uploading document " + UploadName();
        case ActionKind::Install: return "Installing...";
        case ActionKind::Verify: return "Verifying installation";
        default: return "Downloading ESEF " + DocumentName();
      }
    case JobState::Failed:
      switch (kind_) {
        case ActionKind::Download: return "Download of chapter " + DocumentName() + " FAILED";
        case ActionKind::Upload: return "Upload of document " + UploadName() + " FAILED";
        case ActionKind::Install: return "Installation FAILED";
        case ActionKind::Verify: return "Verifying installation FAILED";
        default: return "Download of ESEF " + DocumentName() + " FAILED";
      }
    case JobState::Succeeded:
      switch (kind_) {
        case ActionKind::Download: return "Successfully downloaded chapter " + DocumentName();
        case ActionKind::Upload: return "Successfully uploaded document " + UploadName();
        case ActionKind::Install: return "Installation completed";
        case ActionKind::Verify: return "Installation verified successfully";
        default: return "Successfully downloaded ESEF " + DocumentName();
      }
    case JobState::Cancelled:
      break;
  }
  return std::string();
}

bool JobStatus::Cancel() {
  const JobState state = GetState();
  if (!IsActive(state) || CancelRequested()) return IsActive(state);
  HW_LOG(log_, info) << "  Cancel requested";
  cancel_->Cancel();
  // With no command to take its way out, nothing else would end the job.
  if (!commandRunning_.load()) FinishCancelled();
  return true;
}

void JobStatus::CommandStarted() {
  commandRunning_.store(true);
}

void JobStatus::CommandEnded() {
  commandRunning_.store(false);
  if (CancelRequested()) FinishCancelled();
}

void JobStatus::FinishCancelled() {
  if (cancelFinished_.exchange(true)) return;
  {
    std::lock_guard lock(stateLock_);
    // A command that finished its work before it saw the request keeps its success.
    if (!IsActive(state_) && state_ != JobState::Failed && state_ != JobState::Cancelled) return;
    state_ = JobState::Cancelled;
  }
  HW_LOG(log_, info) << "  Job cancelled";
  Notify();
  AddMessage(kCancelledMessage);
}

void JobStatus::SetRetryInput(const std::string& input) {
  std::lock_guard lock(retryInputLock_);
  retryInput_ = input;
}

std::string JobStatus::RetryInput() const {
  std::lock_guard lock(retryInputLock_);
  return retryInput_;
}

void JobStatus::SetFolder(const std::string& folder) {
  {
    std::lock_guard lock(folderLock_);
    folder_ = folder;
  }
  Notify();
}

std::string JobStatus::Folder() const {
  std::lock_guard lock(folderLock_);
  return folder_;
}

}  // namespace hopwell
