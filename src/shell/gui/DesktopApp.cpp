#include "shell/gui/DesktopApp.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QSystemTrayIcon>

#include <boost/filesystem/operations.hpp>

#include "base/FrontEnd.h"
#include "base/LogFailure.h"
#include "base/Logging.h"
#include "intake/CommandIntake.h"
#include "shell/CrashHook.h"
#include "shell/CrashRecorder.h"
#include "shell/QuitControl.h"
#include "shell/SingleInstance.h"
#include "shell/Startup.h"
#include "shell/StartupToken.h"
#include "shell/TerminationSignals.h"
#include "shell/Updater.h"
#include "shell/gui/ClientIcon.h"
#include "shell/gui/Dialogs.h"
#include "shell/gui/MainWindow.h"
#include "shell/gui/PlatformProbe.h"
#include "shell/gui/QtFrontEnd.h"
#include "shell/gui/QtTranslations.h"
#include "shell/gui/UpdateNotice.h"
#include "shell/gui/WindowlessRun.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr int kRelayMilliseconds = 10000;

bool HasValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// The whole command line after the program name, as the relay and intake see it. The
// arguments are taken as UTF-8 bytes, which is what the desktop hands over.
std::string CommandLine(int argc, char** argv) {
  int first = 1;
  if (first < argc && std::string(argv[first]) == "--") ++first;
  std::string line;
  for (int i = first; i < argc; ++i) {
    if (!line.empty()) line += ' ';
    line += argv[i];
  }
  // A command file named relative to this launch's folder would be looked for in the
  // running instance's folder: hand over its absolute path instead.
  const std::string unquoted = RemoveQuotes(line);
  if (!unquoted.empty() && !IsDirectForm(unquoted) && fs::path(unquoted).is_relative()) {
    boost::system::error_code error;
    const fs::path absolute = fs::absolute(fs::path(unquoted));
    if (fs::is_regular_file(absolute, error)) line = absolute.string();
  }
  return line;
}

LogSource& DesktopLog() {
  static LogSource log;
  return log;
}

// What a first launch does when Qt cannot start any window system (its platform plugin is
// not installed, or no display answers): the command still runs, in this process, and the
// user learns what is missing. Later launches do the same on their own, so the instance
// token is given back.
int RunWithoutWindowSystem(int argc, char** argv, const std::string& command,
                           const std::string& reason, SingleInstance& instance) {
  instance.Release();
  SetCrashFrontEnd("headless");
  std::fprintf(stderr, "hopwell: no window can be shown: %s.\n", reason.c_str());
  if (command.empty()) {
    std::fprintf(stderr, "Run commands without a window with: hopwell --headless COMMAND...\n");
    return 2;
  }
  std::fprintf(stderr, "hopwell: running %s without a window.\n", command.c_str());
  SetLogFailureHandler(
      [](const std::string& text) { std::fprintf(stderr, "hopwell: %s\n", text.c_str()); });
  if (const std::string problem = StartCore(); !problem.empty()) {
    std::fprintf(stderr, "hopwell: %s\n", problem.c_str());
    return 1;
  }
  HW_LOG(DesktopLog(), warning) << "No window can be shown: " << reason;
  return RunWithoutWindow(argc, argv, command);
}

}  // namespace

int RunDesktop(int argc, char** argv) {
  // Dynamic libraries come only from the system's search path: nothing is added to it.
  InstallCrashHandler();
  SetCrashFrontEnd("desktop");
  const std::string command = CommandLine(argc, argv);
  // Read before Qt starts: its X11 plugin takes DESKTOP_STARTUP_ID out of the environment.
  const StartupToken startupToken = StartupTokenFromEnvironment();

  SingleInstance instance;
  const SingleInstance::LaunchOutcome launch =
      instance.AcquireOrRelay(command, kRelayMilliseconds, startupToken);
  if (!launch.first) {
    if (launch.folderUnusable) {
      std::fprintf(stderr,
                   "hopwell: cannot use the folder for the single-instance check: %s.\n"
                   "Make it a folder of your own that others cannot enter (chmod 700), or set "
                   "XDG_RUNTIME_DIR to your session's runtime folder.\n",
                   instance.LastError().c_str());
      return 1;
    }
    if (launch.failed) {
      std::fprintf(stderr, "hopwell: could not reach the running instance: %s\n",
                   instance.LastError().c_str());
      return 1;
    }
    return 0;  // handed over (or nothing to hand over): the running instance carries on
  }

  if (!HasValue("QT_QPA_PLATFORM") && !HasValue("DISPLAY") && !HasValue("WAYLAND_DISPLAY")) {
    std::fprintf(stderr,
                 "hopwell: no display found (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                 "Run commands without a window with: hopwell --headless COMMAND...\n");
    return 2;
  }

  if (const std::string reason = ProbeWindowSystem(argc, argv); !reason.empty()) {
    return RunWithoutWindowSystem(argc, argv, command, reason, instance);
  }

  const std::string problem = StartCore();
  LogSource& log = DesktopLog();

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Hopwell"));
  // Ties the windows to hopwell.desktop (its icon and name in the task switcher).
  QGuiApplication::setDesktopFileName(QStringLiteral("hopwell"));
  QApplication::setWindowIcon(ClientIcon());
  LoadQtTranslations(app, LocaleFromEnvironment());
  if (!problem.empty()) {
    std::fprintf(stderr, "hopwell: %s\n", problem.c_str());
    RunMessageDialog("", problem);
    return 1;
  }
  // The client lives in the tray: closing the window is a quit request, not an exit.
  QApplication::setQuitOnLastWindowClosed(false);

  Updater updater;
  MainWindow window(&updater);
  // A log file that cannot be written is told in the window's status line; the failure may
  // be met on any thread, so the text crosses to the window's thread with a queued call.
  QPointer<MainWindow> statusOwner(&window);
  SetLogFailureHandler([statusOwner](const std::string& text) {
    QMetaObject::invokeMethod(
        qApp,
        [statusOwner, text] {
          if (statusOwner) statusOwner->statusBar()->showMessage(QString::fromStdString(text));
        },
        Qt::QueuedConnection);
  });
  SetDialogOwner(&window);
  auto frontEnd = std::make_shared<QtFrontEnd>(&window);
  if (const char* dump = std::getenv("HOPWELL_JOB_DUMP"); dump != nullptr && *dump != '\0') {
    frontEnd->SetJobDumpPath(dump);
  }
  SetFrontEnd(frontEnd);
  SetQuitHandler([](int code) { QCoreApplication::exit(code); });

  window.Present(startupToken);
  window.WatchRelays(instance);

  // The session is ending (logout, kill, Ctrl+C): quit without the confirmation question.
  const int terminationPipe = InstallTerminationSignals();
  QSocketNotifier terminationNotifier(terminationPipe, QSocketNotifier::Read);
  terminationNotifier.setEnabled(terminationPipe >= 0);
  QObject::connect(&terminationNotifier, &QSocketNotifier::activated, [&log, terminationPipe] {
    char drained[16];
    while (::read(terminationPipe, drained, sizeof(drained)) > 0) {
    }
    HW_LOG(log, info) << "Received signal " << PendingTerminationSignal();
    StopJobsForQuit();
    QuitWithoutAsking();
  });

  QPointer<MainWindow> noticeOwner(&window);
  updater.SetCanShutdownCallback(&CanShutdownCallback);
  updater.SetResultHandler([noticeOwner](const UpdateCheckResult& result, bool userAsked) {
    // Called on the check's thread: show the notice on the user-interface thread.
    QMetaObject::invokeMethod(
        noticeOwner.data() != nullptr ? static_cast<QObject*>(noticeOwner.data()) : qApp,
        [result, userAsked] { ShowUpdateNotice(result, userAsked); }, Qt::QueuedConnection);
  });
  updater.Init();
  SetStartedUpdater(&updater);

  if (!command.empty()) SubmitCommand(command);

  const int code = QApplication::exec();

  window.TrayIcon()->hide();
  HW_LOG(log, info) << "Shutting down...";
  SetStartedUpdater(nullptr);
  updater.Cleanup();
  SetQuitHandler({});
  SetLogFailureHandler({});
  // From now on command threads see no window.
  SetFrontEnd(nullptr);
  FlushLog();
  const int endedBy = PendingTerminationSignal();
  if (endedBy != 0 || RunningCommandCount() > 0) {
    // Transfers the user chose to abandon are cut off here: tearing down the window and
    // the libraries under threads that still report to them could crash on the way out.
    // No destructor runs on this path, so the relay socket is removed first.
    instance.Release();
    if (endedBy != 0) EndByTerminationSignal(endedBy);
    std::_Exit(code);
  }
  return code;
}

}  // namespace hopwell
