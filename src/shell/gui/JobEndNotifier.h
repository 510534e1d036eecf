#pragma once

#include <set>
#include <string>

#include <QDBusConnection>
#include <QObject>

#include "base/Logging.h"
#include "intake/JobState.h"

namespace hopwell {

// Tells the desktop, through org.freedesktop.Notifications, that a job has ended while the
// main window was not the active window: the job's description, and for a failure its last
// message. Nothing is sent when no notification service is on the bus. Used on the
// user-interface thread only.
class JobEndNotifier : public QObject {
  Q_OBJECT

 public:
  explicit JobEndNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject* parent = nullptr);

  // A job (known by `key`) has ended in `state`; notifies once per job, and only when
  // `windowActive` is false. True when a notification was sent.
  bool JobEnded(const void* key, JobState state, const std::string& description,
                const std::string& lastMessage, bool windowActive);

 private:
  bool ServicePresent();

  LogSource log_;
  QDBusConnection bus_;
  std::set<const void*> ended_;
};

}  // namespace hopwell
