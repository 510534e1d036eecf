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
// package once per version into TaggerDownloadFolder, unpacks it beside TaggerFolder and its
// XBRL cache into TaggerVendorFolder/XBRLCache, and then renames it into place with a record
// of its version inside. A tagger without that record, or lacking files of its kept
// archive, is installed again. Built by the ESEF command for one run, on its thread.
class TaggerInstaller {
 public:
  TaggerInstaller(JobPtr job, std::shared_ptr<EsefCmdDownloadParameters> parameters,
                  HttpHelperPtr http, KelvCmd& command);

  // True when the tagger is installed or the parameters name none. False when another
  // command is installing it or a step failed; the job then carries the reason.
  bool InstallTagger();

  // The downloaded archive, empty on failure.
  boost::filesystem::path DownloadTagger(const std::string& url, const std::string& version);
  // The archive unpacked beside TaggerFolder ("tagger.new"), empty on failure.
  boost::filesystem::path UnzipTagger(const boost::filesystem::path& archive);
  bool InstallXbrlCache(const boost::filesystem::path& folder);

  static void OnTaggerProgress(void* context, std::uint64_t downloadTotal, std::uint64_t downloaded,
                               std::uint64_t uploadTotal, std::uint64_t uploaded);

 private:
  // Downloads (unless the archive is kept) and unpacks the version; called with the
  // installation flag held.
  bool Install(const std::string& url, const std::string& version,
               const boost::filesystem::path& keptArchive);
  // Unpacks the archive, installs its cache and switches the tagger to it; a failed archive
  // is removed, so that the next installation fetches it anew.
  bool InstallFrom(const boost::filesystem::path& archive, const std::string& version);
  // Whether the version's archive is there; nothing (after a log line) when it cannot be told.
  std::optional<bool> IsDownloaded(const boost::filesystem::path& archive);
  // Whether TaggerFolder holds the version whole: its record names it, and it has every file
  // of the kept archive (when there is one) in its size.
  std::optional<bool> IsInstalled(const std::string& version,
                                  const boost::filesystem::path& archive);
  // Records the version in the unpacked folder and renames it into place.
  bool SwitchTagger(const boost::filesystem::path& unpacked, const std::string& version);
  static boost::filesystem::path StagingFolder(const char* suffix);
  // "tagger.lock" beside TaggerFolder, which installations take turns on.
  static boost::filesystem::path InstallLockPath();
  // The staging folders a killed installation left; called with the flag and the lock held.
  void RemoveLeftovers();
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
