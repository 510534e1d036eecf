#pragma once

#include <string>
#include <vector>

namespace hopwell {

// The hidden option under which the client, re-executed by the crash handler, finishes the
// crash record and tells the user about it:
//   hopwell --crash-report <record file name> <status> <front end>
// status: "ok", "create:<errno>" or "write:<errno>"; front end: "desktop" or "headless".
inline constexpr const char* kCrashReportOption = "--crash-report";

// Installs the fatal-signal handler (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) on an
// alternate stack. Everything the handler needs (the record folder, the time zone offset,
// the helper's command line) is prepared here, since the handler may only do
// async-signal-safe work. `appName` starts the record's file name. Safe to call again.
void InstallCrashRecorder(const char* appName);

// Which front end the helper should use for its message: "desktop" shows a message box,
// "headless" only prints. Set by the front end once it knows what it is.
void SetCrashFrontEnd(const char* frontEnd);

}  // namespace hopwell
