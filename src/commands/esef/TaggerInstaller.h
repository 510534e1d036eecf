#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"
#include "commands/esef/EsefCmdDownloadParameters.h"
#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// Makes sure the XBRL tagger named by the download parameters is installed: downloads its
// package once per version into TaggerDownloadFolder, unpacks it into TaggerFolder and its
// XBRL cache into TaggerVendorFolder/XBRLCache. Built by the ESEF command for one run, on
// its thread.
class TaggerInstaller {
 public:
  TaggerInstaller(JobPtr job, std::shared_ptr<EsefCmdDownloadParameters> parameters,
                  HttpHelperPtr http, KelvCmd& command);

  // True when the tagger is installed or the parameters name none. False when another
  // command is installing it or a step failed; the job then carries the reason.
  bool InstallTagger();

  // The downloaded archive, empty on failure.
  boost::filesystem::path DownloadTagger(const std::string& url, const std::string& version);
  // TaggerFolder, empty on failure.
  boost::filesystem::path UnzipTagger(const boost::filesystem::path& archive);
  bool InstallXbrlCache(const boost::filesystem::path& folder);

  static void OnTaggerProgress(void* context, std::uint64_t downloadTotal, std::uint64_t downloaded,
                               std::uint64_t uploadTotal, std::uint64_t uploaded);

 private:
  // Downloads and unpacks the version; called with the installation flag held.
  bool Install(const std::string& url, const std::string& version);
  // Whether the version's archive is there; nothing (after a log line) when it cannot be told.
  std::optional<bool> IsDownloaded(const boost::filesystem::path& archive);
  void ReportProgress(std::uint64_t downloaded);

  LogSource log_;
  JobPtr job_;
  std::shared_ptr<EsefCmdDownloadParameters> parameters_;
  HttpHelperPtr http_;
  KelvCmd& command_;
  std::uint64_t previousCount_ = 0;
  std::uint64_t received_ = 0;
};

}  // namespace hopwell
