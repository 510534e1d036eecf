#include "commands/esef/TaggerInstaller.h"

#include <algorithm>
#include <fstream>
#include <optional>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "commands/esef/TaggerInstallFlag.h"
#include "net/ResumableDownload.h"
#include "storage/FileOperations.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"
#include "storage/ZipExtractor.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kCurrentlyInstalling =
    "Kelvory XBRL Tagger is currently installing. You\xE2\x80\x99ll be able to launch it once the "
    "installation is complete.";
const char* const kInstalling = "Installing Kelvory XBRL Tagger...";
const char* const kCacheFolder = "XBRLCache";
const char* const kCacheArchive = "XBRLCache.zip";
// The download is written under this suffix and renamed to the version once complete, so
// a download cut short never looks like an installed version.
const char* const kPartialSuffix = ".part";

}  // namespace

TaggerInstaller::TaggerInstaller(JobPtr job, std::shared_ptr<EsefCmdDownloadParameters> parameters,
                                 HttpHelperPtr http, KelvCmd& command)
    : job_(std::move(job)),
      parameters_(std::move(parameters)),
      http_(std::move(http)),
      command_(command) {}

bool TaggerInstaller::InstallTagger() {
  const std::string url = parameters_->TaggerUrl();
  const std::string version = parameters_->TaggerVersion();
  HW_LOG(log_, info) << "Tagger URL: " << url << ". Tagger version: " << version
                     << ". Tagger Download Size: " << parameters_->TaggerSize();
  if (url.empty() || version.empty()) {
    HW_LOG(log_, info) << "Tagger URL or version is empty, not downloading.";
    return true;
  }
  const auto downloaded = JoinChecked(TaggerDownloadFolder(), version);
  if (!downloaded) {
    HW_LOG(log_, error) << "    Refusing tagger version " << version;
    return false;
  }
  // Only a download takes the flag: a command that merely finds the version downloaded
  // never makes another one report "currently installing".
  std::optional<bool> present = IsDownloaded(*downloaded);
  if (!present) return false;
  if (!*present) {
    TaggerInstallGuard guard;
    if (!guard.Taken()) {
      job_->SetProgress(0);
      job_->AddMessage(kCurrentlyInstalling);
      return false;
    }
    // Another command may have finished this version between the look and the flag.
    present = IsDownloaded(*downloaded);
    if (!present) return false;
    if (!*present) return Install(url, version);
  }
  HW_LOG(log_, info) << "Tagger " << version << " is already downloaded, not downloading";
  job_->SetProgress(70);
  return true;
}

std::optional<bool> TaggerInstaller::IsDownloaded(const fs::path& archive) {
  boost::system::error_code error;
  const bool present = PathExists(archive, error);
  if (error) {
    // Cannot be told: neither installed nor worth a download over whatever is there.
    HW_LOG(log_, error) << "Cannot tell whether " << archive << " exists: " << error.message();
    return std::nullopt;
  }
  return present;
}

bool TaggerInstaller::Install(const std::string& url, const std::string& version) {
  job_->AddMessage(kInstalling);
  const fs::path archive = DownloadTagger(url, version);
  if (archive.empty()) {
    HW_LOG(log_, error) << "Failed to download " << url << " to " << version;
    return false;
  }
  job_->SetProgress(60);
  job_->AddMessage(kInstalling);
  const fs::path folder = UnzipTagger(archive);
  if (folder.empty()) {
    HW_LOG(log_, error) << "Failed to extract tagger";
    return false;
  }
  job_->SetProgress(65);
  job_->AddMessage("Installing Kelvory XBRL Tagger Cache...");
  if (!InstallXbrlCache(folder)) {
    HW_LOG(log_, error) << "Failed to install the XBRL Cache";
    return false;
  }
  job_->SetProgress(70);
  return true;
}

fs::path TaggerInstaller::DownloadTagger(const std::string& url, const std::string& version) {
  const fs::path folder = TaggerDownloadFolder();
  const auto target = JoinChecked(folder, version);
  const auto partial = JoinChecked(folder, version + kPartialSuffix);
  if (!target || !partial) {
    HW_LOG(log_, error) << "    Refusing tagger version " << version;
    return {};
  }
  boost::system::error_code error;
  if (fs::exists(folder, error)) {
    fs::remove_all(folder, error);
    if (error) HW_LOG(log_, warning) << "Failed to delete " << folder << ": " << error.message();
  }
  fs::create_directories(folder, error);
  if (error) HW_LOG(log_, warning) << "Failed to create " << folder << ": " << error.message();

  std::ofstream file(partial->string(), std::ios::binary | std::ios::trunc);
  if (!file) {
    HW_LOG(log_, error) << "    Failed to download tagger: could not create " << *partial;
    return {};
  }
  previousCount_ = 0;
  received_ = 0;
  long status = 0;
  ResumableDownload download(*http_, file, *partial);
  const HttpResult result = download.Get(url, &OnTaggerProgress, this, {}, &status);
  file.close();

  std::optional<std::string> failure;
  if (result != HttpResult::Ok) {
    failure = download.ErrorText(result);
  } else if (status >= 400) {
    // An error page is not a package; kept, it would mark the version as installed.
    failure = "HTTP " + std::to_string(status);
  } else if (file.fail()) {
    failure = "could not write the package";
  } else if (fs::rename(*partial, *target, error); error) {
    failure = error.message();
  }
  if (failure) {
    HW_LOG(log_, error) << "    Failed to download tagger: " << *failure;
    fs::remove(*partial, error);
    return {};
  }
  return *target;
}

void TaggerInstaller::OnTaggerProgress(void* context, std::uint64_t, std::uint64_t downloaded,
                                       std::uint64_t, std::uint64_t) {
  static_cast<TaggerInstaller*>(context)->ReportProgress(downloaded);
}

void TaggerInstaller::ReportProgress(std::uint64_t downloaded) {
  // The transfer's own count may start again (a redirect): only growth counts.
  if (downloaded >= previousCount_) received_ += downloaded - previousCount_;
  previousCount_ = downloaded;
  // Without a known size there is nothing to divide by: the download runs without updates.
  const int size = parameters_->TaggerSize();
  if (received_ == 0 || size <= 0) return;
  const auto total = static_cast<std::uint64_t>(size);
  const double fraction =
      std::min(1.0, static_cast<double>(received_) / static_cast<double>(total));
  const double remaining = command_.EstimateRemainingSeconds(total, received_);
  if (!command_.ShouldReportProgress()) return;
  job_->SetProgress(static_cast<int>(fraction * 55 + 5));
  if (remaining > 0.01) {
    job_->AddMessage(boost::format("Downloading Kelvory XBRL Tagger (%1%%%)") %
                     static_cast<int>(fraction * 100));
  }
}

fs::path TaggerInstaller::UnzipTagger(const fs::path& archive) {
  const fs::path folder = TaggerFolder();
  boost::system::error_code error;
  if (fs::exists(folder, error)) {
    fs::remove_all(folder, error);
    if (error) {
      HW_LOG(log_, error) << "Failed to delete " << folder << ": " << error.message();
      return {};
    }
  }
  if (!ZipExtractor(archive).Extract(true, folder)) {
    HW_LOG(log_, error) << "Failed to unzip tagger";
    return {};
  }
  return folder;
}

bool TaggerInstaller::InstallXbrlCache(const fs::path& folder) {
  const fs::path cache = folder / kCacheFolder / kCacheArchive;
  boost::system::error_code error;
  if (!fs::exists(cache, error)) {
    HW_LOG(log_, error) << "The XBRL Cache file was not included in the package: " << cache;
    return false;
  }
  const fs::path target = TaggerVendorFolder() / kCacheFolder;
  if (fs::exists(target, error)) {
    fs::remove_all(target, error);
    if (error) {
      HW_LOG(log_, warning) << "Failed to remove old XBRL Cache from " << target << ": "
                            << error.message();
    }
  }
  if (!ZipExtractor(cache).Extract(true, target)) {
    HW_LOG(log_, warning) << "Failed to extract XBRL Cache from " << cache << " to " << target;
    return false;
  }
  return true;
}

}  // namespace hopwell
