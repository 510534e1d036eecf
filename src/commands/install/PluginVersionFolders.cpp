// The extraction folders of PluginInstallerCmd: made whole before anything registers them,
// and removed so that a removal cut short never leaves part of a version under its name.

#include <optional>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "commands/install/PluginInstallerCmd.h"
#include "storage/DurableFile.h"
#include "storage/FileOperations.h"
#include "storage/ZipExtractor.h"

namespace hopwell {

namespace fs = boost::filesystem;

bool PluginInstallerCmd::UnpackVersionFolder(const fs::path& package, const fs::path& folder) {
  const fs::path packages = folder.parent_path();
  boost::system::error_code error;
  const bool exists = PathExists(folder, error);
  if (error) {
    HW_LOG(log_, error) << "Cannot tell whether " << folder << " exists: " << error.message();
    return false;
  }
  if (exists) {
    // Another application version's, one a crash cut short, or one whose package kept its
    // name for a new version: every entry is written beside its file and renamed over it,
    // so files in use are replaced whole.
    HW_LOG(log_, info) << "Extracting " << package << " into the existing " << folder;
    if (!ZipExtractor(package).Extract(true, folder)) return false;
  } else {
    const std::string unpacking = folder.filename().string() + std::string(kUnpackingSuffix);
    if (!RemoveTreeWithoutLinks(packages, unpacking, error)) {
      HW_LOG(log_, error) << "Failed to remove " << packages / unpacking << ": " << error.message();
      return false;
    }
    if (!ZipExtractor(package).Extract(true, packages / unpacking)) {
      RemoveTreeWithoutLinks(packages, unpacking, error);
      return false;
    }
    fs::rename(packages / unpacking, folder, error);
    if (error) {
      HW_LOG(log_, error) << "Failed to rename " << packages / unpacking << " to " << folder << ": "
                          << error.message();
      return false;
    }
  }
  // Synced before any PluginConfig file or versions file names it: after a power cut the
  // record never names a folder of empty files.
  if (!SyncTree(folder, error) || !SyncFolder(packages, error)) {
    HW_LOG(log_, error) << "Failed to sync " << folder << ": " << error.message();
    return false;
  }
  return true;
}

void PluginInstallerCmd::RemoveLeftovers() {
  const fs::path packages = PackageFolder();
  const std::string current = fs::path(PackageName(false)).stem().string();
  boost::system::error_code error;
  std::vector<std::string> leftovers;
  for (fs::directory_iterator it(packages, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.ends_with(kUnpackingSuffix) || name.ends_with(kRemovingSuffix)) {
      leftovers.push_back(name);
    }
  }
  for (const std::string& name : leftovers) {
    const std::string folder = fs::path(name).stem().string();
    // Another installation of that package may be at work on it: only a free lock (or the
    // one this installation holds) says the folder was left by a killed one.
    std::optional<PackageLock> lock;
    if (folder != current && !lock.emplace(LockFilePath(folder), false).Held()) continue;
    HW_LOG(log_, info) << "Removing " << packages / name << ", left by an earlier installation";
    if (!RemoveTreeWithoutLinks(packages, name, error)) {
      HW_LOG(log_, warning) << "Failed to remove " << packages / name << ": " << error.message();
    }
  }
}

void PluginInstallerCmd::RemoveVersionFolder(const std::string& name) {
  const fs::path packages = PackageFolder();
  const std::string removing = name + std::string(kRemovingSuffix);
  boost::system::error_code error;
  fs::rename(packages / name, packages / removing, error);
  if (!error && SyncFolder(packages, error) && RemoveTreeWithoutLinks(packages, removing, error)) {
    return;
  }
  HW_LOG(log_, warning) << "Failed to remove " << packages / name << ": " << error.message();
}

}  // namespace hopwell
