#include "commands/esef/TaggerInstaller.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "base/CancelToken.h"
#include "commands/esef/TaggerInstallFlag.h"
#include "net/ResumableDownload.h"
#include "storage/ArchiveContents.h"
#include "storage/DurableFile.h"
#include "storage/FileOperations.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"
#include "storage/TurnLock.h"
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
// The download is written under this suffix and renamed to the version once complete.
const char* const kPartialSuffix = ".part";
// In the tagger's folder: the version it holds, written once the folder is whole.
const char* const kInstalledRecord = ".hopwell-installed";
// Beside it: the next tagger while it is unpacked, and the previous one while it is removed.
const char* const kNewSuffix = ".new";
const char* const kOldSuffix = ".old";
const char* const kLockSuffix = ".lock";

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
  // Only an installation takes the flag: a command that merely finds the version installed
  // never makes another one report "currently installing".
  std::optional<bool> installed = IsInstalled(version, *downloaded);
  if (!installed) return false;
  if (!*installed) {
    TaggerInstallGuard guard;
    // Installations in other client processes take turns on a lock file as well.
    const TurnLock turn(InstallLockPath(), false);
    if (!guard.Taken() || !turn.Held()) {
      job_->SetProgress(0);
      job_->AddMessage(kCurrentlyInstalling);
      return false;
    }
    // Another command may have finished this version between the look and the flag.
    installed = IsInstalled(version, *downloaded);
    if (!installed) return false;
    if (!*installed) return Install(url, version, *downloaded);
  }
  if (const TaggerInstallGuard guard; guard.Taken()) {
    if (const TurnLock turn(InstallLockPath(), false); turn.Held()) RemoveLeftovers();
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

std::optional<bool> TaggerInstaller::IsInstalled(const std::string& version,
                                                 const fs::path& archive) {
  const std::optional<bool> downloaded = IsDownloaded(archive);
  if (!downloaded) return std::nullopt;
  // The record is written into the unpacked tagger before it is renamed into place: it
  // names the version of the folder it lies in, and only a whole one.
  std::ifstream in((TaggerFolder() / kInstalledRecord).string(), std::ios::binary);
  const std::string recorded{std::istreambuf_iterator<char>(in), {}};
  if (!in.is_open() || recorded != version) return false;
  // Files taken away since (by the user, say) are installed again from the kept archive.
  if (*downloaded) {
    // An archive that cannot be read cannot tell: the record is trusted then.
    const auto missing = FirstEntryNotHeld(archive, TaggerFolder());
    if (missing && !missing->empty()) {
      HW_LOG(log_, warning) << "The tagger in " << TaggerFolder() << " lacks " << *missing;
      return false;
    }
  }
  return true;
}

bool TaggerInstaller::Install(const std::string& url, const std::string& version,
                              const fs::path& kept) {
  job_->AddMessage(kInstalling);
  RemoveLeftovers();
  // The archive of an installation cut short is used again; one that does not install is
  // fetched anew.
  const bool reuse = IsDownloaded(kept).value_or(false);
  if (reuse) {
    if (InstallFrom(kept, version)) return true;
    if (CancelRequestedHere()) return false;
  }
  const fs::path archive = DownloadTagger(url, version);
  if (archive.empty()) {
    HW_LOG(log_, error) << "Failed to download " << url << " to " << version;
    return false;
  }
  return InstallFrom(archive, version);
}

bool TaggerInstaller::InstallFrom(const fs::path& archive, const std::string& version) {
  job_->SetProgress(60);
  job_->AddMessage(kInstalling);
  const fs::path folder = UnzipTagger(archive);
  bool installed = !folder.empty();
  if (!installed) HW_LOG(log_, error) << "Failed to extract tagger";
  if (installed) {
    job_->SetProgress(65);
    job_->AddMessage("Installing Kelvory XBRL Tagger Cache...");
    installed = InstallXbrlCache(folder);
    if (!installed) HW_LOG(log_, error) << "Failed to install the XBRL Cache";
  }
  if (installed && SwitchTagger(folder, version)) {
    job_->SetProgress(70);
    return true;
  }
  RemoveLeftovers();
  // An archive that did not install is not used again, unless the user stopped it.
  if (!CancelRequestedHere()) {
    boost::system::error_code error;
    fs::remove(archive, error);
  }
  return false;
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
  // Unpacked beside the tagger in use, which stays as it is until the new one is whole.
  const fs::path folder = StagingFolder(kNewSuffix);
  boost::system::error_code error;
  if (!RemoveTreeWithoutLinks(TempRoot(), folder.filename(), error)) {
    HW_LOG(log_, error) << "Failed to delete " << folder << ": " << error.message();
    return {};
  }
  if (!ZipExtractor(archive).Extract(true, folder)) {
    HW_LOG(log_, error) << "Failed to unzip tagger";
    RemoveTreeWithoutLinks(TempRoot(), folder.filename(), error);
    return {};
  }
  return folder;
}

bool TaggerInstaller::SwitchTagger(const fs::path& unpacked, const std::string& version) {
  const fs::path folder = TaggerFolder();
  const fs::path old = StagingFolder(kOldSuffix);
  boost::system::error_code error;
  // Synced and recorded before its rename: the record never names files a power cut took.
  bool switched =
      SyncTree(unpacked, error) && ReplaceFileDurably(unpacked / kInstalledRecord, version, error);
  // In between the two renames there is no tagger, and the next command installs again.
  if (switched && PathExists(folder, error)) fs::rename(folder, old, error);
  if (switched && !error) fs::rename(unpacked, folder, error);
  switched = switched && !error && SyncFolder(folder.parent_path(), error);
  if (!switched) {
    HW_LOG(log_, error) << "Failed to install the tagger into " << folder << ": "
                        << error.message();
    return false;
  }
  RemoveLeftovers();
  return true;
}

fs::path TaggerInstaller::StagingFolder(const char* suffix) {
  return TaggerFolder().string() + suffix;
}

fs::path TaggerInstaller::InstallLockPath() {
  // Made here when missing: the lock is taken before anything else creates it.
  CreateFolder(TempRoot());
  return StagingFolder(kLockSuffix);
}

void TaggerInstaller::RemoveLeftovers() {
  for (const char* suffix : {kNewSuffix, kOldSuffix}) {
    const fs::path folder = StagingFolder(suffix);
    boost::system::error_code error;
    if (!PathExists(folder, error)) continue;
    HW_LOG(log_, info) << "Removing " << folder << ", left by an earlier installation";
    if (!RemoveTreeWithoutLinks(TempRoot(), folder.filename(), error)) {
      HW_LOG(log_, warning) << "Failed to remove " << folder << ": " << error.message();
    }
  }
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
