// IAppLauncher::InstallPlugins lives with the installer it runs, so that apps/ does not
// depend on the install command.

#include "apps/IAppLauncher.h"
#include "commands/install/PluginInstallerCmd.h"

namespace hopwell {

InstallResult IAppLauncher::InstallPlugins() {
  const boost::filesystem::path application = application_->AppPath();
  if (application.empty()) return InstallResult::ApplicationNotFound;
  PluginInstallerCmd installer(job_, application.parent_path(), parameters_);
  const bool running = IsApplicationRunning();
  const bool additionalRunning = IsAdditionalApplicationRunning();
  switch (installer.UpdatePlugins(running || additionalRunning)) {
    case 2:
      return InstallResult::PackageUnavailable;
    case 3:
      return running ? InstallResult::ApplicationRunning
                     : InstallResult::AdditionalApplicationRunning;
    default:
      return InstallResult::Installed;
  }
}

}  // namespace hopwell
