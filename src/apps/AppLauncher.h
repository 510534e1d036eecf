#pragma once

#include <memory>

#include "apps/IAppLauncher.h"

namespace hopwell {

// The launcher of this platform: posix_spawn to start, /proc to find running processes,
// symbolic links as shortcuts.
class AppLauncher : public IAppLauncher {
 public:
  using IAppLauncher::IAppLauncher;
  ~AppLauncher() override;

  bool OpenDocument(const boost::filesystem::path& document) override;
  bool IsApplicationRunning() override;
  bool IsAdditionalApplicationRunning() override;
  bool CreateShortcut(const boost::filesystem::path& target,
                      const boost::filesystem::path& shortcut) override;
};

}  // namespace hopwell
