#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/LogFailure.h"
#include "shell/CrashHook.h"
#include "shell/CrashRecorder.h"
#include "shell/CrashReport.h"
#include "shell/HeadlessFrontEnd.h"
#include "shell/Startup.h"

#if defined(HOPWELL_HAVE_GUI) && __has_include("shell/gui/DesktopApp.h")
#include "shell/gui/CrashMessageBox.h"
#include "shell/gui/DesktopApp.h"
#define HOPWELL_DESKTOP 1
#endif

namespace {

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: hopwell [COMMAND]\n"
               "       hopwell --headless COMMAND...\n"
               "\n"
               "COMMAND is a command string such as kelv:test, or the path of a file that\n"
               "holds one. --headless runs the commands in this process without a window\n"
               "and exits 0 when every job succeeded, 1 otherwise.\n");
}

int RunCrashHelper(int argc, char** argv, const std::vector<std::string>& args) {
  return hopwell::RunCrashReport(args,
                                 [argc, argv](const std::string& caption, const std::string& text) {
#ifdef HOPWELL_DESKTOP
                                   return hopwell::ShowCrashMessageBox(argc, argv, caption, text);
#else
        (void)argc, (void)argv, (void)caption, (void)text;
        return false;
#endif
                                 });
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Not listed in the usage text: only the crash handler starts the client this way.
  if (!args.empty() && args[0] == hopwell::kCrashReportOption) {
    return RunCrashHelper(argc, argv, {args.begin() + 1, args.end()});
  }
  hopwell::SetCrashHandlerInstaller(&hopwell::InstallCrashRecorder);
  hopwell::InstallCrashHandler();
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    PrintUsage(stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "--headless") {
    args.erase(args.begin());
    if (args.empty()) {
      PrintUsage(stderr);
      return 2;
    }
    hopwell::SetLogFailureHandler(
        [](const std::string& text) { std::fprintf(stderr, "hopwell: %s\n", text.c_str()); });
    if (const std::string problem = hopwell::StartCore(); !problem.empty()) {
      std::fprintf(stderr, "hopwell: %s\n", problem.c_str());
      return 1;
    }
    return hopwell::RunHeadless(args);
  }
  if (!args.empty() && args[0].rfind("--", 0) == 0 && args[0] != "--") {
    std::fprintf(stderr, "hopwell: unknown option %s\n", args[0].c_str());
    PrintUsage(stderr);
    return 2;
  }
#ifdef HOPWELL_DESKTOP
  return hopwell::RunDesktop(argc, argv);
#else
  std::fprintf(stderr,
               "hopwell: this build has no desktop front end; use hopwell --headless COMMAND...\n");
  return 2;
#endif
}
