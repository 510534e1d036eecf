#include "shell/gui/JobEndNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

namespace hopwell {
namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";

}  // namespace

JobEndNotifier::JobEndNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

bool JobEndNotifier::ServicePresent() {
  if (!bus_.isConnected() || bus_.interface() == nullptr) return false;
  const QString service = QString::fromLatin1(kService);
  if (bus_.interface()->isServiceRegistered(service).value()) return true;
  // A service the bus starts on demand counts as present.
  return bus_.interface()->activatableServiceNames().value().contains(service);
}

bool JobEndNotifier::JobEnded(const void* key, JobState state, const std::string& description,
                              const std::string& lastMessage, bool windowActive) {
  if (IsActive(state) || !ended_.insert(key).second) return false;
  if (windowActive || !ServicePresent()) return false;

  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                     QString::fromLatin1(kInterface), QStringLiteral("Notify"));
  const QString body = state == JobState::Failed ? QString::fromStdString(lastMessage) : QString();
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("hopwell"));
  call << QStringLiteral("Kelvory Hopwell") << 0u << QStringLiteral("hopwell")
       << QString::fromStdString(description) << body << QStringList() << hints << -1;
  // Not waited for: the answer (a notification id) is of no use here.
  if (!bus_.send(call)) {
    HW_LOG(log_, warning) << "  Notification not sent: "
                          << bus_.lastError().message().toStdString();
    return false;
  }
  return true;
}

}  // namespace hopwell
