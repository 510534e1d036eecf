#include "shell/CrashHook.h"

#include <atomic>

namespace hopwell {
namespace {

std::atomic<CrashHandlerInstaller> installerSlot{nullptr};

}  // namespace

void SetCrashHandlerInstaller(CrashHandlerInstaller installer) {
  installerSlot.store(installer);
}

void InstallCrashHandler() {
  if (CrashHandlerInstaller installer = installerSlot.load()) installer(kCrashReportAppName);
}

}  // namespace hopwell
