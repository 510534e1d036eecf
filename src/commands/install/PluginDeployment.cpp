// The deployment half of PluginInstallerCmd: settings folders of the editing applications,
// PluginConfig registration, scripts and extensions.

#include <cstdlib>
#include <regex>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "commands/install/PluginConfigFile.h"
#include "commands/install/PluginInstallerCmd.h"
#include "intake/ParameterKeys.h"
#include "storage/FileOperations.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"

namespace hopwell {

namespace fs = boost::filesystem;

namespace {

// Entries of a folder (one level), in name order; `error` tells when the listing stopped
// short.
std::vector<fs::path> FolderEntries(const fs::path& folder, boost::system::error_code& error) {
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::vector<fs::path> FolderEntries(const fs::path& folder) {
  boost::system::error_code ignored;
  return FolderEntries(folder, ignored);
}

}  // namespace

const std::vector<std::string>& PluginInstallerCmd::DefaultLanguageNames() {
  static const std::vector<std::string> names = {
      "en_US", "en_GB", "de_DE", "fr_FR", "ja_JP", "es_ES", "pt_BR", "sv_SE", "da_DK",
      "nl_NL", "it_IT", "nb_NO", "fi_FI", "el_GR", "cs_CZ", "pl_PL", "hu_HU", "ru_RU",
      "tr_TR", "ro_RO", "uk_UA", "he_IL", "ar_AE", "zh_CN", "zh_TW", "ko_KR"};
  return names;
}

bool PluginInstallerCmd::IsVersion9OrLater(const std::string& appVersion) {
  return std::strtod(appVersion.c_str(), nullptr) >= 9.0;
}

std::string PluginInstallerCmd::PlatformSubfolder(const fs::path& configFile) {
  const std::string stem = configFile.stem().string();
  return stem.find_first_of("32") != std::string::npos ? "Win32" : "x64";
}

fs::path PluginInstallerCmd::PluginFolderFor(const fs::path& configFile,
                                             const fs::path& extractFolder) {
  if (!IsVersion9OrLater(parameters_->GetValue(param_keys::kAppVersion))) return extractFolder;
  return extractFolder / PlatformSubfolder(configFile);
}

fs::path PluginInstallerCmd::RoamingAppDataFolder() {
  const fs::path folder = hopwell::RoamingAppDataFolder();
  if (folder.empty()) {
    HW_LOG(log_, error) << "Failed to get path to CSIDL_APPDATA";
    return {};
  }
  HW_LOG(log_, info) << "CSIDL_APPDATA: " << folder.string();
  return folder;
}

std::vector<fs::path> PluginInstallerCmd::LanguageFolders(int kind) {
  const fs::path roaming = RoamingAppDataFolder();
  if (roaming.empty()) {
    HW_LOG(log_, error) << "Failed to get path to application";
    return {};
  }
  const std::string version = parameters_->GetValue(param_keys::kAppVersion);
  if (version.empty()) {
    HW_LOG(log_, error) << "The application version recieved from the server is empty";
    return {};
  }
  const std::optional<fs::path> base = JoinChecked(
      roaming / "Adobe" / (kind == InDesign ? "InDesign" : "InCopy"), "Version " + version);
  if (!base) {
    HW_LOG(log_, error) << "Refused application version " << version;
    return {};
  }
  HW_LOG(log_, info) << "App Data root folder: " << *base;

  static const std::regex kLanguageName("^[a-z]{2}_[A-Z]{2}$");
  std::vector<fs::path> folders;
  for (const char* edition : {"", "-J", "-ME"}) {
    const fs::path root = base->string() + edition;
    if (!CreateFolder(root)) {
      HW_LOG(log_, error) << "Failed to create folder " << root;
      return folders;
    }
    // A root that cannot be listed whole is skipped: guessing "no language folders" would
    // register the plug-ins in 26 new folders and miss the user's own.
    boost::system::error_code error;
    std::vector<fs::path> found;
    for (const fs::path& entry : FolderEntries(root, error)) {
      if (error) break;
      if (fs::is_directory(entry, error) &&
          std::regex_match(entry.filename().string(), kLanguageName)) {
        found.push_back(entry);
      }
    }
    if (error) {
      ReportConfigFailure(root, "cannot list its language folders (" + error.message() + ")");
      continue;
    }
    if (found.empty()) {
      for (const std::string& name : DefaultLanguageNames()) {
        found.push_back(root / name);
        boost::system::error_code ignored;
        fs::create_directories(found.back(), ignored);
      }
    }
    folders.insert(folders.end(), found.begin(), found.end());
  }
  return folders;
}

std::vector<fs::path> PluginInstallerCmd::PluginConfigFiles() {
  const bool both = IsVersion9OrLater(parameters_->GetValue(param_keys::kAppVersion));
  std::vector<fs::path> files;
  for (int kind : {InDesign, InCopy}) {
    for (const fs::path& folder : LanguageFolders(kind)) {
      files.push_back(folder / "PluginConfig.txt");
      if (both) files.push_back(folder / "PluginConfig32.txt");
    }
  }
  return files;
}

std::vector<fs::path> PluginInstallerCmd::ScriptsFolders() {
  std::vector<fs::path> folders;
  for (int kind : {InDesign, InCopy}) {
    for (const fs::path& folder : LanguageFolders(kind)) {
      folders.push_back(folder / "Scripts" / "Kelvory");
      boost::system::error_code error;
      fs::create_directories(folders.back(), error);
      if (error) HW_LOG(log_, error) << "Failed to create folder " << folders.back();
    }
  }
  return folders;
}

fs::path PluginInstallerCmd::ExtensionsFolder() {
  const fs::path roaming = RoamingAppDataFolder();
  if (roaming.empty()) return {};
  return roaming / "Adobe" / "CEP" / "extensions";
}

bool PluginInstallerCmd::DeployPlugins(const fs::path& extractFolder) {
  const fs::path oldPluginFolder = applicationFolder_ / "Plug-Ins" / "Kelv Publishing";
  bool changed = false;
  for (const fs::path& configFile : PluginConfigFiles()) {
    PluginConfigFile config(configFile, false);
    if (!config.ReadError().empty()) {
      ReportConfigFailure(configFile, "cannot read it (" + config.ReadError() + ")");
      continue;
    }
    config.ExcludePlugins(oldPluginFolder);
    // One rewrite takes the entries of the package folder's other versions (the one
    // installed before, or one an interrupted switch registered) out and puts this one in,
    // so that each file registers exactly one whole version of ours.
    const fs::path source = PluginFolderFor(configFile, extractFolder);
    config.RemovePathEntriesBelow(PackageFolder(), source);
    if (config.AddPathEntry(source)) changed = true;
    if (!config.SaveConfig()) ReportConfigFailure(configFile, "cannot write it");
  }
  return changed;
}

void PluginInstallerCmd::RemovePlugins(const fs::path& extractFolder) {
  for (const fs::path& configFile : PluginConfigFiles()) {
    PluginConfigFile config(configFile, false);
    if (!config.ReadError().empty()) {
      ReportConfigFailure(configFile, "cannot read it (" + config.ReadError() + ")");
      continue;
    }
    config.RemovePathEntry(PluginFolderFor(configFile, extractFolder));
    if (!config.SaveConfig()) ReportConfigFailure(configFile, "cannot write it");
  }
}

void PluginInstallerCmd::ReportConfigFailure(const fs::path& configFile, const std::string& why) {
  // The file stays as it was, with the user's other registrations; the others go on.
  HW_LOG(log_, error) << "Skipping the plug-in registration in " << configFile << ": " << why;
  ReportFailure(boost::format("The plug-ins could not be registered in %1%: %2%") % configFile %
                why);
}

void PluginInstallerCmd::ReportFailure(const boost::format& message) {
  if (job_) job_->JobFailed(message);
}

void PluginInstallerCmd::InstallScripts(const fs::path& source) {
  boost::system::error_code error;
  if (!fs::is_directory(source, error)) {
    HW_LOG(log_, debug) << "No scripts to install (" << (error ? error.message() : "") << ")";
    return;
  }
  const std::vector<fs::path> targets = ScriptsFolders();
  if (targets.empty()) {
    HW_LOG(log_, error) << "Failed to get scripts folder";
    return;
  }
  for (const fs::path& entry : FolderEntries(source)) {
    for (const fs::path& folder : targets) {
      const fs::path target = folder / entry.filename();
      if (fs::exists(fs::symlink_status(target, error))) {
        fs::remove_all(target, error);
        if (error) {
          HW_LOG(log_, error) << "Failed to remove old files from " << target << " ("
                              << error.message() << ")";
        }
      }
      HW_LOG(log_, debug) << "Installing " << entry << " to " << target;
      // The target is made first, and a single file is copied as it is.
      bool copied = false;
      if (fs::is_directory(entry, error)) {
        copied = CreateFolder(target) && CopyFolder(entry, target);
      } else {
        fs::copy_file(entry, target, fs::copy_options::overwrite_existing, error);
        copied = !error;
      }
      if (!copied) {
        HW_LOG(log_, error) << "Failed to install " << target;
        ReportFailure(boost::format("The plug-ins' scripts could not be installed in %1%") %
                      target);
      }
    }
  }
}

void PluginInstallerCmd::InstallExtensions(const fs::path& source) {
  boost::system::error_code error;
  if (!fs::is_directory(source, error)) {
    HW_LOG(log_, debug) << "No extensions to install (" << (error ? error.message() : "") << ")";
    return;
  }
  const fs::path destination = ExtensionsFolder();
  if (destination.empty()) {
    HW_LOG(log_, error) << "Failed to get extensions folder";
    return;
  }
  for (const fs::path& entry : FolderEntries(source)) {
    const std::string name = entry.filename().string();
    if (name.empty()) {
      HW_LOG(log_, warning) << "Empty extension name? " << entry;
    } else {
      RemoveExtension(name);
    }
  }
  if (!CreateFolder(destination) || !CopyFolder(source, destination)) {
    HW_LOG(log_, error) << "Failed to install " << source;
    ReportFailure(boost::format("The plug-ins' extensions could not be installed in %1%") %
                  destination);
  }
}

void PluginInstallerCmd::RemoveExtension(const std::string& name) {
  const fs::path folder = ExtensionsFolder();
  if (folder.empty()) return;
  const std::optional<fs::path> path = JoinChecked(folder, name);
  if (!path) {
    HW_LOG(log_, warning) << "Refused extension name " << name;
    return;
  }
  HW_LOG(log_, debug) << "Deleting extension " << *path;
  boost::system::error_code error;
  fs::remove_all(*path, error);
  boost::system::error_code statusError;
  if (error && fs::exists(fs::symlink_status(*path, statusError))) {
    HW_LOG(log_, warning) << "Can't remove extension " << *path << " (" << error.message() << ")";
  }
}

}  // namespace hopwell
