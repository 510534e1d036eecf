#include "shell/gui/WindowlessRun.h"

#include <chrono>
#include <thread>

#include <QCoreApplication>
#include <QDBusConnectionInterface>

#include "intake/JobStatus.h"
#include "shell/HeadlessFrontEnd.h"
#include "shell/JobEndNotice.h"
#include "shell/gui/JobEndNotifier.h"

namespace hopwell {

int RunWithoutWindow(int argc, char** argv, const std::string& command) {
  QCoreApplication app(argc, argv);
  JobEndNotifier notifier(QDBusConnection::sessionBus());
  HeadlessExtras extras;
  extras.jobObserver = [&notifier](JobStatus& job) {
    const JobState state = job.GetState();
    if (IsActive(state)) return;
    // Any thread: the notice travels by value to this thread, the job only as a key.
    QMetaObject::invokeMethod(
        &notifier,
        [&notifier, key = static_cast<const void*>(&job), state, notice = MakeJobEndNotice(job)] {
          notifier.JobChanged(key, state, notice);
        },
        Qt::QueuedConnection);
  };
  extras.idle = [] { QCoreApplication::processEvents(); };
  extras.finish = [&notifier] {
    // Every job has told its last change (the queued calls are in); their notices wait for
    // the jobs to settle.
    QCoreApplication::processEvents();
    const auto deadline = std::chrono::steady_clock::now() + 4 * JobEndNotifier::kSettle;
    while (notifier.HasPending() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      QCoreApplication::processEvents();
    }
    // Notices are sent without waiting for an answer; a call on the same connection returns
    // only once they are out, before the process ends.
    if (QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface()) {
      bus->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
    }
  };
  return RunHeadless({command}, extras);
}

}  // namespace hopwell
