#include "shell/gui/JobEndNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>
#include <QVariantMap>

namespace hopwell {
namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";

}  // namespace

JobEndNotifier::JobEndNotifier(QDBusConnection bus, std::function<bool()> windowActive,
                               std::chrono::milliseconds settle, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      windowActive_(std::move(windowActive)),
      settle_(settle) {}

bool JobEndNotifier::ServicePresent() {
  if (!bus_.isConnected() || bus_.interface() == nullptr) return false;
  const QString service = QString::fromLatin1(kService);
  if (bus_.interface()->isServiceRegistered(service).value()) return true;
  // A service the bus starts on demand counts as present.
  return bus_.interface()->activatableServiceNames().value().contains(service);
}

void JobEndNotifier::JobChanged(const void* key, JobState state, JobEndNotice notice) {
  if (IsActive(state) || ended_.count(key) != 0) return;
  Pending& pending = pending_[key];
  pending.notice = std::move(notice);
  if (pending.timer == nullptr) {
    pending.timer = new QTimer(this);
    pending.timer->setSingleShot(true);
    connect(pending.timer, &QTimer::timeout, this, [this, key] { Send(key); });
  }
  pending.timer->start(settle_);
}

void JobEndNotifier::Send(const void* key) {
  const auto it = pending_.find(key);
  if (it == pending_.end()) return;
  const JobEndNotice notice = std::move(it->second.notice);
  it->second.timer->deleteLater();
  pending_.erase(it);
  ended_.insert(key);
  if ((windowActive_ && windowActive_()) || !ServicePresent()) return;

  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                     QString::fromLatin1(kInterface), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("hopwell"));
  call << QStringLiteral("Kelvory Hopwell") << 0u << QStringLiteral("hopwell")
       << QString::fromStdString(notice.summary) << QString::fromStdString(notice.body)
       << QStringList() << hints << -1;
  // Not waited for: the answer (a notification id) is of no use here.
  if (!bus_.send(call)) {
    HW_LOG(log_, warning) << "  Notification not sent: "
                          << bus_.lastError().message().toStdString();
  }
}

}  // namespace hopwell
