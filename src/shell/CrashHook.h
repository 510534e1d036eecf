#pragma once

namespace hopwell {

// The application name crash reports carry.
inline constexpr const char* kCrashReportAppName = "Hopwell";

// Start-up installs the crash handler through this hook, before anything else can fail.
// Crash handling registers its installer here; without one the hook does nothing.
using CrashHandlerInstaller = void (*)(const char* appName);
void SetCrashHandlerInstaller(CrashHandlerInstaller installer);
void InstallCrashHandler();

}  // namespace hopwell
