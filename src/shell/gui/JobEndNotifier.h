#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <set>

#include <QDBusConnection>
#include <QObject>

#include "base/Logging.h"
#include "intake/JobState.h"
#include "shell/JobEndNotice.h"

class QTimer;

namespace hopwell {

// Tells the desktop, through org.freedesktop.Notifications, that a job has ended while the
// main window was not the active window. The notice goes out once per job, `settle` after
// the job's last change: a job that fails usually adds its error just after its state
// changed, and one that succeeds stamps its names last. Nothing is sent when no notification
// service is on the bus. Used on the user-interface thread only.
class JobEndNotifier : public QObject {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kSettle{300};

  // `windowActive` tells, when the notice is due, whether the user is looking already.
  explicit JobEndNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                          std::function<bool()> windowActive = {},
                          std::chrono::milliseconds settle = kSettle, QObject* parent = nullptr);

  // A job (known by `key`) changed while in `state`, with the notice it would give now.
  void JobChanged(const void* key, JobState state, JobEndNotice notice);
  // Whether an ended job's notice is still waiting for its job to settle.
  bool HasPending() const { return !pending_.empty(); }

 private:
  struct Pending {
    JobEndNotice notice;
    QTimer* timer = nullptr;
  };

  void Send(const void* key);
  bool ServicePresent();

  LogSource log_;
  QDBusConnection bus_;
  std::function<bool()> windowActive_;
  std::chrono::milliseconds settle_;
  std::map<const void*, Pending> pending_;
  std::set<const void*> ended_;
};

}  // namespace hopwell
