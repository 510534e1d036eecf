#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/format/format_fwd.hpp>

#include "base/CancelToken.h"
#include "base/Logging.h"
#include "base/WorkProgress.h"
#include "intake/JobState.h"

namespace hopwell {

class JobStatus;
using JobChangeHandler = void (*)(JobStatus*);

// The record through which a running command tells the user what it is doing. Written by
// the command's thread, read by the user-interface thread: every mutable field has a lock
// of its own and no operation holds two. Setters notify onChange outside any lock.
class JobStatus : public IWorkProgress {
 public:
  JobStatus(ActionKind kind, std::string caption, std::string commandString);
  JobStatus(const JobStatus&) = delete;
  JobStatus& operator=(const JobStatus&) = delete;

  void SetState(JobState state);
  JobState GetState() const;

  void SetProgress(double percent);
  double GetProgress() const;
  void AddProgress(double delta) override;

  void SetCaption(const std::string& caption);
  std::string Caption() const;

  void SetDocumentName(const std::string& name);
  std::string DocumentName() const;

  void SetUploadName(const std::string& name);
  std::string UploadName() const;

  // The application a document was handed to (as the parameter document names it), for the
  // job-end notice; empty until then.
  void SetApplicationName(const std::string& name);
  std::string ApplicationName() const;

  void AddMessage(const std::string& text);
  void AddMessage(const char* text);
  void AddMessage(const boost::format& text);
  std::string LastMessage() const;
  std::vector<std::string> Messages() const;

  void JobFailed(const std::string& text);
  void JobFailed(const char* text);
  void JobFailed(const boost::format& text);

  void SetTime(const boost::posix_time::ptime& time);
  // Stamps the current local time (whole seconds) on first call when unset.
  boost::posix_time::ptime GetTime();

  ActionKind Kind() const { return kind_; }
  const std::string& CommandString() const { return commandString_; }

  std::string Description() const;

  // Job control. Cancel asks the job's command to stop at its next check; the command then
  // takes its failure path, and every failure it reports ends the job Cancelled instead.
  // A job without a running command ends Cancelled at once. False (nothing done) when the
  // job has already ended.
  bool Cancel();
  bool CancelRequested() const override { return cancel_->IsCancelled(); }
  const CancelTokenPtr& Cancellation() const { return cancel_; }
  // The command base brackets its run with these: a job whose command still runs is ended
  // by it, with "Cancelled" as its last message when it was cancelled and did not succeed.
  void CommandStarted();
  void CommandEnded();

  // The folder that holds the job's files (the chapter's or report's), empty until known.
  void SetFolder(const std::string& folder);
  std::string Folder() const;

  // What a retry of the job needs besides its command string (a save's request, which its
  // file gives only once); empty when the command string is enough.
  void SetRetryInput(const std::string& input);
  std::string RetryInput() const;

  void SetOnChange(JobChangeHandler handler) { onChange_.store(handler); }
  JobChangeHandler OnChange() const { return onChange_.load(); }

 private:
  // Work done for the job (its archives) fails the job.
  void WorkFailed(const std::string& message) override { JobFailed(message); }
  void Notify();
  // The state a setter stores: a failure after a cancel request is the cancel's outcome.
  JobState Settled(JobState state) const;
  void FinishCancelled();

  LogSource log_;
  mutable std::mutex stateLock_;
  JobState state_ = JobState::Waiting;
  const ActionKind kind_;
  const std::string commandString_;
  mutable std::mutex messagesLock_;
  std::vector<std::string> messages_;
  mutable std::mutex progressLock_;
  double progress_ = 0;
  mutable std::mutex captionLock_;
  std::string caption_;
  std::atomic<JobChangeHandler> onChange_{nullptr};
  mutable std::mutex documentNameLock_;
  std::string documentName_;
  mutable std::mutex uploadNameLock_;
  std::string uploadName_;
  std::string applicationName_;  // under uploadNameLock_
  mutable std::mutex timeLock_;
  boost::posix_time::ptime time_;  // not_a_date_time until set
  mutable std::mutex folderLock_;
  std::string folder_;
  mutable std::mutex retryInputLock_;
  std::string retryInput_;
  const CancelTokenPtr cancel_ = std::make_shared<CancelToken>();
  std::atomic<bool> commandRunning_{false};
  std::atomic<bool> cancelFinished_{false};
};

// The last message of a job that ended Cancelled.
inline constexpr const char* kCancelledMessage = "Cancelled";

using JobPtr = std::shared_ptr<JobStatus>;

}  // namespace hopwell
