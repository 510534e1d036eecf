#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/format/format_fwd.hpp>

#include "commands/install/PackageLock.h"
#include "intake/AppCmdParameters.h"
#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// The plug-in installation for one application version: keeps the plug-in package in
// AppDataRoot/plug-ins, downloads and checks it when needed, unpacks it, deploys it into
// the editing applications' settings folders and records the installed version. Built by
// IAppLauncher::InstallPlugins for one run; never runs as a command thread.
class PluginInstallerCmd : public KelvCmd {
 public:
  enum Kind : int { InDesign = 0, InCopy = 1 };
  // Appended to an extraction folder's name while it is unpacked, and while it is removed.
  static constexpr std::string_view kUnpackingSuffix = ".unpacking";
  static constexpr std::string_view kRemovingSuffix = ".removing";

  // http: the helper for the package download; empty makes a fresh one when needed.
  PluginInstallerCmd(JobPtr job, boost::filesystem::path applicationFolder,
                     std::shared_ptr<AppCmdParameters> parameters, HttpHelperPtr http = nullptr);

  void DoExecute() override {}

  // 2 package unavailable, 3 application running while an update is needed, otherwise 1
  // when a PluginConfig file gained the entry and 0 when none did.
  int UpdatePlugins(bool applicationRunning);
  bool NeedsUpdate();
  std::string InstalledVersion();
  std::string LatestVersion();
  // Replaces the versions file durably; false (after a log line) when it could not.
  bool SaveInstalledVersion(const std::string& version);
  boost::filesystem::path VersionsFilePath();
  boost::filesystem::path PackagePath();
  boost::filesystem::path ExtractFolder();
  bool PackageNeedsDownload(const boost::filesystem::path& package);
  boost::filesystem::path DownloadPackage();
  // The extraction folder of the installed version, empty when none is recorded; nothing
  // when the recorded version names no folder of its own in the package folder ("..",
  // "a/b", ...).
  std::optional<boost::filesystem::path> InstalledVersionFolder();
  // Deletes the folder of the version installed before unless it is the current package's,
  // another application version's versions file still names it, or another installation
  // of it runs. Called once the versions file names the new version and no PluginConfig
  // file of this application version registers the old one any more.
  void RemovePreviousVersion(const boost::filesystem::path& previousFolder);
  // Makes the package's extraction folder whole (see UnpackVersionFolder), then installs its
  // scripts and extensions; the folder, or empty on failure.
  boost::filesystem::path ExtractPackage(const boost::filesystem::path& package);
  void MigrateOldDownloadFolder();
  static void OnPackageProgress(void* context, std::uint64_t downloadTotal,
                                std::uint64_t downloaded, std::uint64_t uploadTotal,
                                std::uint64_t uploaded);

  // Deployment into the settings folders. A PluginConfig file that cannot be read whole or
  // written is skipped (left as it was) and fails the job with a message naming it. Each
  // file is switched to extractFolder from any other folder of the package folder in one
  // rewrite.
  bool DeployPlugins(const boost::filesystem::path& extractFolder);
  void RemovePlugins(const boost::filesystem::path& extractFolder);
  void InstallScripts(const boost::filesystem::path& source);
  void InstallExtensions(const boost::filesystem::path& source);
  void RemoveExtension(const std::string& name);
  std::vector<boost::filesystem::path> LanguageFolders(int kind);
  std::vector<boost::filesystem::path> PluginConfigFiles();
  std::vector<boost::filesystem::path> ScriptsFolders();
  boost::filesystem::path ExtensionsFolder();
  boost::filesystem::path RoamingAppDataFolder();
  // AppDataRoot / "plug-ins".
  static boost::filesystem::path PackageFolder();
  // The folder registered in a PluginConfig file for an extraction folder.
  boost::filesystem::path PluginFolderFor(const boost::filesystem::path& configFile,
                                          const boost::filesystem::path& extractFolder);

  // "Win32" for a PluginConfig file whose stem holds a "3" or a "2", else "x64".
  static std::string PlatformSubfolder(const boost::filesystem::path& configFile);
  // True when the leading number of an "appversion" value is 9 or more.
  static bool IsVersion9OrLater(const std::string& appVersion);
  // The 26 language folder names used when a settings root has none.
  static const std::vector<std::string>& DefaultLanguageNames();
  // "plugincrc" as the stream extraction reads hexadecimal: 0 when unreadable.
  static std::uint32_t ParseCrc(const std::string& text);
  // True for the names of the files the installer keeps in the package folder beside the
  // packages: lock files ("*.lock"), versions files ("*-Version.txt") and their temporary
  // files, and the folders being unpacked or removed ("*.unpacking", "*.removing").
  static bool IsOwnFileName(const std::string& name);
  // The lock file of an extraction folder (its name + ".lock" in the package folder).
  static boost::filesystem::path LockFilePath(const std::string& extractFolderName);

 private:
  // Every name from the parameter document that will be joined to a local folder is a single
  // safe component and no name of the installer's own files; logs the first that is not. An
  // unparseable "pluginurl" passes: the steps that need the package report it.
  bool NamesAreSafe();
  // A step of the installation that could not be done fails the job (the callers then
  // report no success) and keeps the version from being recorded, so that the next run
  // installs it again.
  void ReportConfigFailure(const boost::filesystem::path& configFile, const std::string& why);
  void ReportFailure(const boost::format& message);
  // The last segment of "pluginurl" when it is longer than 3 characters, else empty (after
  // logging why, when log is set).
  std::string PackageName(bool log);
  // Whether name can be the package's file in the package folder: it and its extraction
  // folder are single components, and neither is one of the installer's own files.
  static bool AcceptablePackageName(const std::string& name);
  // Waits for the lock of the package's extraction folder, telling the job while it waits.
  PackageLock LockExtractFolder(const std::string& packageName);
  // A versions file other than this application version's names the folder, or the package
  // folder cannot be read to tell.
  bool NamedByOtherVersionsFile(const std::string& folderName);
  // Unpacks the kept package again into an extraction folder that lacks some of its files
  // (downloading it again when its CRC is wrong); empty on failure.
  boost::filesystem::path RestoreExtractFolder(const boost::filesystem::path& package);
  // The extraction folder made whole and synced: a missing one is unpacked beside, under
  // "<name>.unpacking", and renamed into place, so that its name never stands for part of a
  // version; into an existing one (another application version's, or one a crash cut
  // short) every entry is extracted again.
  bool UnpackVersionFolder(const boost::filesystem::path& package,
                           const boost::filesystem::path& folder);
  // Removes what killed installations left in the package folder ("*.unpacking",
  // "*.removing"), each only while no installation of its package runs.
  void RemoveLeftovers();
  // Renames the folder to "<name>.removing" before deleting it, so that a removal cut short
  // leaves nothing under a version's name and is finished by RemoveLeftovers.
  void RemoveVersionFolder(const std::string& name);

  JobPtr job_;
  boost::filesystem::path applicationFolder_;
  std::shared_ptr<AppCmdParameters> parameters_;
  HttpHelperPtr http_;
};

}  // namespace hopwell
