#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "base/CancelToken.h"
#include "base/Logging.h"
#include "intake/JobStatus.h"

namespace hopwell {

// Base of every command. Run executes on the command's own thread; DoExecute does the
// command's whole work and reports every failure on the command's job, never by throwing.
class KelvCmd {
 public:
  KelvCmd() = default;
  KelvCmd(const KelvCmd&) = delete;
  KelvCmd& operator=(const KelvCmd&) = delete;
  virtual ~KelvCmd() = default;

  virtual void DoExecute() = 0;

  // The thread function: DoExecute, then "Command is done" and a flush of the log. DoExecute
  // runs with the command's cancel token as its thread's (CancelScope); a command cancelled
  // before it starts does not run it.
  void Run();

  // Cancellation through the job: intake attaches the job, so that cancelling the job
  // (the front end's way) cancels this command and the command's end settles the job.
  void AttachJob(const JobPtr& job);
  // Asks the command to stop at its next check and take its failure path from there.
  void Cancel();
  bool CancelRequested() const { return cancel_->IsCancelled(); }

  // Progress helpers for downloads; called only from the command's own thread.
  bool ShouldReportProgress();
  static std::string FormatBytes(std::uint64_t bytes);
  static std::string FormatDuration(double seconds);
  double EstimateRemainingSeconds(std::uint64_t total, std::uint64_t done);

 protected:
  // How a command reports work that threw: the log line's start (the failure's text follows)
  // and the job's message (%1% is the failure's text), and both for a failure without text.
  struct FailureTexts {
    std::string log;
    std::string job;
    std::string unknownLog;
    std::string unknownJob;
    // A thrown std::string carries the failure's text as well.
    bool catchesText = false;
  };

  // Runs work; whatever it throws fails the job instead. False when work threw.
  bool RunFailingJob(const std::function<void()>& work, JobStatus& job, const FailureTexts& texts);

  // False, after failing the job and logging logText and the argument, unless valid.
  bool AcceptArgument(bool valid, const std::string& argument, JobStatus& job, const char* logText);

  LogSource log_;

 private:
  CancelTokenPtr cancel_ = std::make_shared<CancelToken>();
  JobPtr cancelJob_;
  std::int64_t transferStart_ = -1;
  std::int64_t lastReport_ = -1;
  std::deque<double> rateWindow_;
};

}  // namespace hopwell
