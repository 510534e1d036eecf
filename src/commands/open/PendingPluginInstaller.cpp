#include "apps/IAppLauncher.h"

namespace hopwell {

// Placeholder until the plug-in installer (commands/install) is merged: plug-ins count as
// current. Remove this file when IAppLauncher::InstallPlugins is defined there.
InstallResult IAppLauncher::InstallPlugins() {
  return InstallResult::Installed;
}

}  // namespace hopwell
