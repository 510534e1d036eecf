#include <algorithm>
#include <ctime>

#include <boost/format.hpp>

#include "commands/open/OpenCmd.h"
#include "commands/open/OpenCmdParameters.h"

namespace hopwell {

void OpenCmd::OnDownloadProgress(void* context, std::uint64_t, std::uint64_t downloaded,
                                 std::uint64_t, std::uint64_t) {
  static_cast<OpenCmd*>(context)->ReportDownload(downloaded);
}

void OpenCmd::ReportDownload(std::uint64_t downloaded) {
  const std::uint64_t delta = downloaded - lastFileBytes_;
  lastFileBytes_ = downloaded;
  bytesDownloaded_ += delta;
  if (bytesDownloaded_ == 0) return;

  // Without an announced size there is no fraction and nothing to estimate: the bar stays
  // where the download began and no remaining time is shown.
  const int announced = parameters_->DownloadSize();
  const bool sized = announced > 0;
  const auto total = static_cast<std::uint64_t>(std::max(announced, 0));
  const double fraction = sized ? static_cast<double>(bytesDownloaded_) / announced : 0.0;
  const double remaining = sized ? EstimateRemainingSeconds(total, bytesDownloaded_) : 0.0;
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  if (!downloadStart_) downloadStart_ = now;
  double elapsed = static_cast<double>(now - *downloadStart_);
  if (elapsed < 0.00001) elapsed = 0.001;

  // Streamed into the record itself: a stream of its own per read cost more than the download.
  HW_LOG(log_, info) << "    Downloaded " << FormatBytes(bytesDownloaded_) << " of "
                     << FormatBytes(total) << " (" << static_cast<long long>(fraction * 100)
                     << "%) in " << elapsed << "s, " << remaining << "s remaining";

  if (!ShouldReportProgress()) return;
  job_->SetProgress(
      std::clamp(static_cast<double>(static_cast<long long>(fraction * 75 + 15)), 0.0, 100.0));
  if (remaining > 0.01) {
    job_->AddMessage(boost::format("Downloading %1% of %2%, %3% remaining") %
                     FormatBytes(bytesDownloaded_) % FormatBytes(total) %
                     FormatDuration(remaining));
  }
}

}  // namespace hopwell
