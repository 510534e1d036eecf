#include "GuiTestSupport.h"

#include <chrono>
#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace hopwell::testing {
namespace {

// The simulator fixture finds the tools and its CA through these; values from the
// environment (a ctest run, a developer's shell) win.
const bool kFoldersSet = [] {
  ::setenv("HOPWELL_SOURCE_DIR", HOPWELL_TEST_SOURCE_DIR, 0);
  ::setenv("HOPWELL_BINARY_DIR", HOPWELL_TEST_BINARY_DIR, 0);
  return true;
}();

}  // namespace

QApplication& GuiApp() {
  static QApplication* app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "test_shell_gui";
    static char* argv[] = {name, nullptr};
    // Never deleted: widgets of static lifetime in the libraries may outlive main.
    auto* created = new QApplication(argc, argv);
    created->setQuitOnLastWindowClosed(false);
    return created;
  }();
  return *app;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMilliseconds) {
  GuiApp();
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMilliseconds) return done();
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

void AnswerNextModal(std::function<void(QWidget*)> answer, int timeoutMilliseconds) {
  GuiApp();
  QPointer<QWidget> before = QApplication::activeModalWidget();
  auto* timer = new QTimer();
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, before, started, answer, timeoutMilliseconds] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != before.data()) {
      timer->stop();
      timer->deleteLater();
      answer(modal);
    } else if (started->elapsed() > timeoutMilliseconds) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
}

}  // namespace hopwell::testing
