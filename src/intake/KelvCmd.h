#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "shell/Logging.h"

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

  // The thread function: DoExecute, then "Command is done" and a flush of the log.
  void Run();

  // Progress helpers for downloads; called only from the command's own thread.
  bool ShouldReportProgress();
  static std::string FormatBytes(std::uint64_t bytes);
  static std::string FormatDuration(double seconds);
  double EstimateRemainingSeconds(std::uint64_t total, std::uint64_t done);

 protected:
  LogSource log_;

 private:
  std::int64_t transferStart_ = -1;
  std::int64_t lastReport_ = -1;
  std::deque<double> rateWindow_;
};

}  // namespace hopwell
