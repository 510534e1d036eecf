#include "commands/install/PluginInstallerCmd.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include <fmt/format.h>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "base/CancelToken.h"
#include "intake/ParameterKeys.h"
#include "net/ResumableDownload.h"
#include "storage/ArchiveContents.h"
#include "storage/DurableFile.h"
#include "storage/FileOperations.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"
#include "storage/ZipExtractor.h"

namespace hopwell {

namespace fs = boost::filesystem;
namespace keys = param_keys;

namespace {

// A versions file larger than this is not one of ours.
constexpr std::uintmax_t kMaxVersionsFileSize = 200;
constexpr std::string_view kVersionsFileSuffix = "-Version.txt";
constexpr std::string_view kLockFileSuffix = ".lock";
constexpr std::string_view kTemporaryFileSuffix = ".hopwell.tmp";

// The version text without its last ".zip", as the old extraction folder is named.
std::string VersionFolderName(std::string version) {
  if (const std::size_t zip = version.rfind(".zip"); zip != std::string::npos) {
    version.erase(zip, 4);
  }
  return version;
}

bool Exists(const fs::path& path) {
  boost::system::error_code error;
  return fs::exists(path, error);
}

// A folder with at least one entry.
bool HasEntries(const fs::path& folder) {
  boost::system::error_code error;
  const fs::directory_iterator it(folder, error);
  return !error && it != fs::directory_iterator();
}

// A regular file whose bytes are exactly text.
bool HoldsExactly(const fs::path& path, const std::string& text) {
  boost::system::error_code error;
  if (!fs::is_regular_file(path, error) || fs::file_size(path, error) != text.size()) return false;
  std::ifstream in(path.string(), std::ios::binary);
  std::string read(text.size(), '\0');
  in.read(read.data(), static_cast<std::streamsize>(read.size()));
  return in.gcount() == static_cast<std::streamsize>(text.size()) && read == text;
}

}  // namespace

PluginInstallerCmd::PluginInstallerCmd(JobPtr job, fs::path applicationFolder,
                                       std::shared_ptr<AppCmdParameters> parameters,
                                       HttpHelperPtr http)
    : job_(std::move(job)),
      applicationFolder_(std::move(applicationFolder)),
      parameters_(std::move(parameters)),
      http_(std::move(http)) {}

fs::path PluginInstallerCmd::PackageFolder() {
  return AppDataRoot() / "plug-ins";
}

int PluginInstallerCmd::UpdatePlugins(bool applicationRunning) {
  HW_LOG(log_, info) << "Downloading and Installing plug-ins...";
  MigrateOldDownloadFolder();
  // Refused names end the run at once; every other failure comes in the order of the steps
  // below, so that a running application is reported before a bad package.
  if (!NamesAreSafe()) return 2;
  std::optional<PackageLock> lock;
  if (const std::string name = PackageName(false); !name.empty()) {
    lock.emplace(LockExtractFolder(name));
  }
  // A wait for the lock that was cancelled goes no further: no answer about a running
  // application, which would show a dialog for a job the user stopped.
  if (CancelRequestedHere()) return 2;
  const bool update = NeedsUpdate();
  if (update && applicationRunning) return 3;
  if (lock && !lock->Held()) return 2;
  RemoveLeftovers();
  fs::path folder;
  std::optional<fs::path> previous;
  if (update) {
    const fs::path package = DownloadPackage();
    if (package.empty() || !Exists(package)) return 2;
    // The installed version stays registered and recorded until the new one is whole in a
    // folder of its own; the switch below is the only step that changes what is in use.
    previous = InstalledVersionFolder();
    if (!previous) return 2;
    folder = ExtractPackage(package);
    // Nothing to register: deploying would enter a relative folder and record the version.
    if (folder.empty()) return 2;
  } else {
    const fs::path package = PackagePath();
    if (package.empty() || !Exists(package)) return 2;
    folder = ExtractFolder();
    // A crash, a power cut, the user or an older client may have taken files away (older
    // clients deleted the folder while another application version still registered it).
    // A kept package that cannot be read cannot tell: only an empty folder is restored then.
    const auto missing = FirstEntryNotHeld(package, folder);
    if (missing ? !missing->empty() : !HasEntries(folder)) {
      HW_LOG(log_, warning) << "The plug-ins folder " << folder << " lacks "
                            << missing.value_or("everything") << "; extracting " << package
                            << " again";
      folder = RestoreExtractFolder(package);
      if (folder.empty()) return 2;
    }
  }
  // A cancelled update registers nothing more and records no version.
  if (CancelRequestedHere()) return 2;
  const bool changed = DeployPlugins(folder);
  // A step that failed (scripts, extensions, a registration) has failed the job: without
  // the version recorded, the next run installs this version again, and the previous folder
  // stays for the files still registering it. Once the switch has begun it is finished and
  // recorded, cancelled or not.
  if ((!job_ || job_->GetState() != JobState::Failed) && SaveInstalledVersion(LatestVersion()) &&
      previous && !previous->empty()) {
    RemovePreviousVersion(*previous);
  }
  if (CancelRequestedHere()) return 2;
  return changed ? 1 : 0;
}

bool PluginInstallerCmd::NamesAreSafe() {
  const std::string appVersion = parameters_->GetValue(keys::kAppVersion);
  // The same characters make "Version " + it and its versions file name unsafe.
  if (!IsSafeComponent("Version " + appVersion)) {
    HW_LOG(log_, error) << "Refused application version " << appVersion;
    return false;
  }
  if (const std::string name = PackageName(false); !name.empty() && !AcceptablePackageName(name)) {
    HW_LOG(log_, error) << "Refused package name " << name;
    return false;
  }
  const std::string latest = parameters_->GetValue(keys::kPluginVersion);
  if (!latest.empty() && !IsSafeComponent(VersionFolderName(latest))) {
    HW_LOG(log_, error) << "Refused plug-ins version " << latest;
    return false;
  }
  return true;
}

std::string PluginInstallerCmd::PackageName(bool log) {
  const std::string url = parameters_->GetValue(keys::kPluginUrl);
  const std::size_t slash = url.rfind('/');
  if (slash == std::string::npos) {
    if (log) HW_LOG(log_, error) << "Couldn't parse " << url << " for the package name";
    return {};
  }
  std::string name = url.substr(slash + 1);
  if (name.size() <= 3) {
    if (log) {
      HW_LOG(log_, error) << "Parsed package name as " << name << ". Expected it to be longer.";
    }
    return {};
  }
  return name;
}

bool PluginInstallerCmd::IsOwnFileName(const std::string& name) {
  return name.ends_with(kLockFileSuffix) || name.ends_with(kVersionsFileSuffix) ||
         name.ends_with(kTemporaryFileSuffix) || name.ends_with(kUnpackingSuffix) ||
         name.ends_with(kRemovingSuffix);
}

bool PluginInstallerCmd::AcceptablePackageName(const std::string& name) {
  if (!IsSafeComponent(name) || IsOwnFileName(name)) return false;
  const std::string folder = fs::path(name).stem().string();
  return IsSafeComponent(folder) && !IsOwnFileName(folder);
}

fs::path PluginInstallerCmd::LockFilePath(const std::string& extractFolderName) {
  return JoinChecked(PackageFolder(), extractFolderName + std::string(kLockFileSuffix))
      .value_or(fs::path());
}

PackageLock PluginInstallerCmd::LockExtractFolder(const std::string& packageName) {
  const fs::path lockFile = LockFilePath(fs::path(packageName).stem().string());
  boost::system::error_code ignored;
  fs::create_directories(PackageFolder(), ignored);  // a failure shows in the open below
  PackageLock lock(
      lockFile, true,
      [&] {
        HW_LOG(log_, info) << "Waiting for another installation of the plug-ins (" << lockFile
                           << ")";
        if (job_) job_->AddMessage("Waiting for another installation of the plug-ins...");
      },
      &CancelRequestedHere);
  if (!lock.Held()) {
    HW_LOG(log_, error) << "Failed to lock " << lockFile << ": " << std::strerror(lock.Error());
  }
  return lock;
}

bool PluginInstallerCmd::NeedsUpdate() {
  HW_LOG(log_, info) << "Checking if plug-ins need to be installed";
  const std::string installed = InstalledVersion();
  const std::string latest = LatestVersion();
  return !latest.empty() && latest != installed;
}

std::string PluginInstallerCmd::InstalledVersion() {
  const fs::path path = VersionsFilePath();
  boost::system::error_code error;
  if (path.empty() || !fs::exists(path, error)) return {};
  const std::uintmax_t size = fs::file_size(path, error);
  if (!error && size > kMaxVersionsFileSize) {
    HW_LOG(log_, warning) << "The file size of the versions file " << path << " is too large.";
    return {};
  }
  std::string version;
  std::ifstream in;
  if (!error) in.open(path.string(), std::ios::binary);
  if (error || !in.is_open()) {
    HW_LOG(log_, warning) << "Failed to read file " << path;
  } else {
    std::getline(in, version);
  }
  HW_LOG(log_, info) << "Plug-ins version installed " << version;
  return version;
}

std::string PluginInstallerCmd::LatestVersion() {
  const std::string version = parameters_->GetValue(keys::kPluginVersion);
  HW_LOG(log_, info) << "Latest plug-ins version available " << version;
  return version;
}

bool PluginInstallerCmd::SaveInstalledVersion(const std::string& version) {
  const fs::path path = VersionsFilePath();
  // A file that already holds the version stays untouched (a current installation writes
  // nothing but the PluginConfig files); a missing one is written, also for an empty version.
  if (!path.empty() && HoldsExactly(path, version)) return true;
  boost::system::error_code error;
  if (path.empty() || !ReplaceFileDurably(path, version, error)) {
    HW_LOG(log_, warning) << "Failed to save file " << path;
    return false;
  }
  return true;
}

fs::path PluginInstallerCmd::VersionsFilePath() {
  const fs::path extractFolder = ExtractFolder();
  if (extractFolder.empty()) return {};
  const std::string name = parameters_->GetValue(keys::kAppVersion) + "-Version.txt";
  std::optional<fs::path> path = JoinChecked(extractFolder.parent_path(), name);
  if (!path) {
    HW_LOG(log_, error) << "Refused versions file name " << name;
    return {};
  }
  return *path;
}

fs::path PluginInstallerCmd::PackagePath() {
  const fs::path folder = PackageFolder();
  boost::system::error_code error;
  if (!fs::exists(folder, error)) {
    fs::create_directories(folder, error);
    if (error) {
      HW_LOG(log_, error) << "Failed to create " << folder << ": " << error.message();
      return {};
    }
  }
  const std::string name = PackageName(true);
  if (name.empty()) return {};
  const std::optional<fs::path> package =
      AcceptablePackageName(name) ? JoinChecked(folder, name) : std::nullopt;
  if (!package) {
    HW_LOG(log_, error) << "Refused package name " << name;
    return {};
  }
  return *package;
}

fs::path PluginInstallerCmd::ExtractFolder() {
  const fs::path package = PackagePath();
  if (package.empty()) return {};
  const std::string name = package.stem().string();
  std::optional<fs::path> folder = JoinChecked(package.parent_path(), name);
  if (!folder) {
    HW_LOG(log_, error) << "Refused extraction folder name " << name;
    return {};
  }
  return *folder;
}

std::uint32_t PluginInstallerCmd::ParseCrc(const std::string& text) {
  std::istringstream in(text);
  std::uint32_t value = 0;
  in >> std::hex >> value;
  return in.fail() ? 0 : value;
}

bool PluginInstallerCmd::PackageNeedsDownload(const fs::path& package) {
  boost::system::error_code error;
  if (!fs::exists(package, error)) return true;
  const std::uint32_t local = FileCrc32(package);
  const std::uint32_t remote = ParseCrc(parameters_->GetValue(keys::kPluginCrc));
  HW_LOG(log_, trace) << "Local package CRC is  " << static_cast<std::int32_t>(local);
  HW_LOG(log_, trace) << "Remote package CRC is " << static_cast<std::int32_t>(remote);
  return local != remote;
}

fs::path PluginInstallerCmd::DownloadPackage() {
  HW_LOG(log_, info) << "Downloading plug-ins...";
  const fs::path package = PackagePath();
  if (package.empty()) return {};
  if (!PackageNeedsDownload(package)) {
    HW_LOG(log_, debug) << "Plug-ins are already downloaded, skipping download.";
    return package;
  }
  boost::system::error_code error;
  if (fs::exists(package, error)) {
    fs::remove(package, error);
    if (error) {
      HW_LOG(log_, error) << "Couldn't delete the file " << package << ": " << error.message();
      return {};
    }
  }
  const std::string url = parameters_->GetValue(keys::kPluginUrl);
  {
    std::ofstream out(package.string(), std::ios::binary | std::ios::trunc);
    if (!out) {
      HW_LOG(log_, error) << "Failed to open " << package;
      return {};
    }
    HttpHelperPtr http = http_ ? http_ : CreateHttpHelper();
    const HttpResult result =
        GetResuming(*http, url, out, package, &OnPackageProgress, this, {}, nullptr);
    out.close();
    if (result != HttpResult::Ok) {
      HW_LOG(log_, error) << "Failed to download " << url << " (" << result << ")";
      return {};
    }
    if (!out) {
      HW_LOG(log_, error) << "Failed to write " << package;
      return {};
    }
  }
  HW_LOG(log_, trace) << "Verifying package integrity: " << package;
  const std::uint32_t expected = ParseCrc(parameters_->GetValue(keys::kPluginCrc));
  const std::uint32_t actual = FileCrc32(package);
  if (actual == expected) return package;
  HW_LOG(log_, error) << "Plugin package integrity check failed.";
  HW_LOG(log_, error) << "Expected checksum 0x" << fmt::format("{:010X}", expected);
  HW_LOG(log_, error) << "Downloaded package checksum 0x" << fmt::format("{:010X}", actual);
  return {};
}

void PluginInstallerCmd::OnPackageProgress(void* context, std::uint64_t downloadTotal,
                                           std::uint64_t downloaded, std::uint64_t, std::uint64_t) {
  auto& self = *static_cast<PluginInstallerCmd*>(context);
  const double fraction =
      downloadTotal == 0 ? 0.0
                         : static_cast<double>(downloaded) / static_cast<double>(downloadTotal);
  const double remaining = self.EstimateRemainingSeconds(downloadTotal, downloaded);
  if (!self.ShouldReportProgress() || !self.job_) return;
  self.job_->SetProgress(static_cast<int>(fraction * 100));
  if (remaining > 0.01) {
    self.job_->AddMessage(boost::format("Downloading %1% of %2%, %3% remaining") %
                          FormatBytes(downloaded) % FormatBytes(downloadTotal) %
                          FormatDuration(remaining));
  }
}

std::optional<fs::path> PluginInstallerCmd::InstalledVersionFolder() {
  const std::string installed = InstalledVersion();
  if (installed.empty()) return fs::path();
  const std::optional<fs::path> folder = JoinChecked(PackageFolder(), VersionFolderName(installed));
  if (!folder) {
    HW_LOG(log_, error) << "Refused installed plug-ins version " << installed << " read from "
                        << VersionsFilePath();
  }
  return folder;
}

void PluginInstallerCmd::RemovePreviousVersion(const fs::path& previousFolder) {
  const std::string name = previousFolder.filename().string();
  boost::system::error_code error;
  if (name == ExtractFolder().filename().string() || !fs::is_directory(previousFolder, error)) {
    return;
  }
  // Extraction folders are shared by all application versions: the folder goes only when
  // no other versions file names it and no installation of it runs now (its lock is free).
  const PackageLock oldLock(LockFilePath(name), false);
  if (!oldLock.Held() || NamedByOtherVersionsFile(name)) {
    HW_LOG(log_, debug) << "Keeping " << previousFolder << " for other application versions";
    return;
  }
  HW_LOG(log_, trace) << "Deleting " << previousFolder;
  RemoveVersionFolder(name);
}

bool PluginInstallerCmd::NamedByOtherVersionsFile(const std::string& folderName) {
  const fs::path own = VersionsFilePath();
  boost::system::error_code error;
  for (fs::directory_iterator it(PackageFolder(), error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const fs::path file = it->path();
    if (file == own || !file.filename().string().ends_with(kVersionsFileSuffix)) continue;
    boost::system::error_code fileError;
    if (!fs::is_regular_file(file, fileError)) {
      if (fileError) return true;
      continue;
    }
    // As InstalledVersion reads it: an oversized file names nothing.
    const std::uintmax_t size = fs::file_size(file, fileError);
    if (fileError) return true;
    if (size > kMaxVersionsFileSize) continue;
    std::ifstream in(file.string(), std::ios::binary);
    std::string version;
    if (!in.is_open()) return true;
    std::getline(in, version);
    if (in.bad()) return true;
    if (!version.empty() && VersionFolderName(version) == folderName) return true;
  }
  if (error) {
    HW_LOG(log_, warning) << "Failed to list " << PackageFolder() << ": " << error.message();
    return true;
  }
  return false;
}

fs::path PluginInstallerCmd::RestoreExtractFolder(const fs::path& package) {
  // DownloadPackage checks the kept package's CRC and fetches it again when it is wrong.
  if (DownloadPackage().empty()) return {};
  return ExtractPackage(package);
}

fs::path PluginInstallerCmd::ExtractPackage(const fs::path& package) {
  HW_LOG(log_, info) << "Installing plug-ins...";
  const std::string name = package.stem().string();
  const std::optional<fs::path> folder = JoinChecked(package.parent_path(), name);
  if (folder && UnpackVersionFolder(package, *folder)) {
    InstallScripts(*folder / "Scripts");
    InstallExtensions(*folder / "Extensions");
    return *folder;
  }
  HW_LOG(log_, error) << "Failed to extract zip: " << package << " to "
                      << folder.value_or(fs::path());
  return {};
}

void PluginInstallerCmd::MigrateOldDownloadFolder() {
  const fs::path old = TempRoot() / "plug-ins";
  const fs::path renamed = TempRoot() / "plug-ins.THIS_FOLDER_IS_SAFE_TO_DELETE";
  boost::system::error_code error;
  if (fs::exists(old, error) && !fs::exists(renamed, error)) fs::rename(old, renamed, error);
}

}  // namespace hopwell
