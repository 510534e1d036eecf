#include "intake/KelvCmd.h"

#include <ctime>
#include <exception>

#include <boost/format.hpp>

#include <fmt/format.h>

namespace hopwell {
namespace {

constexpr std::size_t kRateWindowSize = 5;

std::int64_t NowSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace

void KelvCmd::Run() {
  {
    const CancelScope scope(cancel_);
    if (!cancel_->IsCancelled()) DoExecute();
  }
  if (cancel_->IsCancelled()) HW_LOG(log_, info) << "Command was cancelled";
  if (cancelJob_) cancelJob_->CommandEnded();
  HW_LOG(log_, info) << "Command is done";
  FlushLog();
}

void KelvCmd::AttachJob(const JobPtr& job) {
  if (!job) return;
  cancelJob_ = job;
  cancel_ = job->Cancellation();
  job->CommandStarted();
}

void KelvCmd::Cancel() {
  if (cancelJob_) {
    cancelJob_->Cancel();
  } else {
    cancel_->Cancel();
  }
}

bool KelvCmd::RunFailingJob(const std::function<void()>& work, JobStatus& job,
                            const FailureTexts& texts) {
  const auto fail = [&](const std::string& text) {
    HW_LOG(log_, error) << texts.log << text;
    job.JobFailed(boost::format(texts.job) % text);
  };
  const auto failUnknown = [&] {
    HW_LOG(log_, error) << texts.unknownLog;
    job.JobFailed(texts.unknownJob);
  };
  try {
    work();
    return true;
  } catch (const std::exception& error) {
    fail(error.what());
  } catch (const std::string& text) {
    if (texts.catchesText) {
      fail(text);
    } else {
      failUnknown();
    }
  } catch (...) {
    failUnknown();
  }
  return false;
}

bool KelvCmd::AcceptArgument(bool valid, const std::string& argument, JobStatus& job,
                             const char* logText) {
  if (valid) return true;
  job.JobFailed(boost::format("Invalid arguments: %s") % argument);
  HW_LOG(log_, warning) << logText << argument;
  return false;
}

bool KelvCmd::ShouldReportProgress() {
  const std::int64_t now = NowSeconds();
  if (lastReport_ != -1 && static_cast<double>(now - lastReport_) <= 0.2) return false;
  lastReport_ = now;
  return true;
}

std::string KelvCmd::FormatBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB", "ZB"};
  std::size_t unit = 0;
  while (bytes > 1024 && unit + 1 < std::size(kUnits)) {
    bytes >>= 10;
    ++unit;
  }
  return fmt::format("{} {}", bytes, kUnits[unit]);
}

std::string KelvCmd::FormatDuration(double seconds) {
  const auto s = static_cast<std::int64_t>(seconds);
  if (s < 60) return fmt::format("{} seconds", s);
  const std::int64_t minutes = s / 60;
  return fmt::format("{} {} {} seconds", minutes, minutes == 1 ? "minute" : "minutes", s % 60);
}

double KelvCmd::EstimateRemainingSeconds(std::uint64_t total, std::uint64_t done) {
  const std::int64_t now = NowSeconds();
  if (transferStart_ == -1) transferStart_ = now;
  double elapsed = static_cast<double>(now - transferStart_);
  if (elapsed < 0.00001) elapsed = 0.001;
  const double rate = static_cast<double>(done) / elapsed;
  if (rateWindow_.size() == kRateWindowSize) rateWindow_.pop_front();
  rateWindow_.push_back(rate);
  double average = 0;
  for (double value : rateWindow_) average += value;
  average /= static_cast<double>(rateWindow_.size());
  if (average < 0.01) average = 0.00001;
  // Done beyond total (a server that sends more than announced) leaves nothing to wait for.
  const double remaining = done >= total ? 0.0 : static_cast<double>(total - done);
  return remaining / average;
}

}  // namespace hopwell
