#include "shell/gui/PlatformProbe.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QStringList>

#include "shell/PlatformPlugins.h"

namespace hopwell {
namespace {

constexpr int kNoPlatform = 3;
constexpr auto kProbeTime = std::chrono::seconds(20);

// Where Qt looks for platform plugins: the folder named by QT_QPA_PLATFORM_PLUGIN_PATH, the
// platforms folders of QT_PLUGIN_PATH and of Qt's own plugin folder.
bool PluginInstalled(const std::string& file) {
  QStringList folders;
  if (const QString named = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH"); !named.isEmpty()) {
    folders << named;
  }
  for (const QString& path :
       qEnvironmentVariable("QT_PLUGIN_PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts)) {
    folders << path + QStringLiteral("/platforms");
  }
  folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
  for (const QString& folder : folders) {
    if (QDir(folder).exists(QString::fromStdString(file))) return true;
  }
  return false;
}

[[noreturn]] void RunProbe(int argc, char** argv) {
  // Quiet, and without the client's crash handling: what happens here is only an answer.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
  }
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) std::signal(signal, SIG_DFL);
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) ::_exit(kNoPlatform);
  });
  QGuiApplication probe(argc, argv);
  ::_exit(0);
}

}  // namespace

std::string ProbeWindowSystem(int argc, char** argv) {
  const pid_t child = ::fork();
  if (child == 0) RunProbe(argc, argv);
  bool started = false;
  if (child > 0) {
    const auto deadline = std::chrono::steady_clock::now() + kProbeTime;
    int status = 0;
    pid_t done = 0;
    while (((done = ::waitpid(child, &status, WNOHANG)) == 0 || (done < 0 && errno == EINTR)) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done <= 0) {
      // A display that never answers is no display to show windows on.
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
    } else {
      started = done == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
  } else {
    started = true;  // no probe possible: Qt decides for itself, as it always did
  }
  if (started) return {};
  return NoWindowReason(PlatformsToTry(std::getenv("QT_QPA_PLATFORM")), &PluginInstalled);
}

}  // namespace hopwell
