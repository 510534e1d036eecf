#include "shell/gui/JobEndNotifier.h"

#include <cstdlib>

#include <gtest/gtest.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>

#include "GuiTestSupport.h"

namespace hopwell {

// The desktop's notification service, as far as Notify goes: records every call.
class NotificationRecorder : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Call {
    QString appName, icon, summary, body;
  };
  std::vector<Call> calls;

 public slots:
  uint Notify(const QString& appName, uint, const QString& icon, const QString& summary,
              const QString& body, const QStringList&, const QVariantMap&, int) {
    calls.push_back({appName, icon, summary, body});
    return static_cast<uint>(calls.size());
  }
};

namespace {

// A session bus of the test's own (dbus-daemon --session), never the user's.
class PrivateBus {
 public:
  PrivateBus() {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(5000)) return;
    testing::WaitFor([this] { return daemon_.canReadLine(); }, 10000);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~PrivateBus() {
    QDBusConnection::disconnectFromBus(QStringLiteral("notifier"));
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }
  const QString& Address() const { return address_; }

 private:
  QProcess daemon_;
  QString address_;
};

TEST(JobEndNotifierTest, NotifiesAnEndedJobOnceWithItsFinalTextsWhileTheWindowIsInactive) {
  testing::GuiApp();
  PrivateBus bus;
  if (bus.Address().isEmpty()) {
    if (std::getenv("CI") != nullptr) FAIL() << "dbus-daemon is needed (scripts/setup)";
    GTEST_SKIP() << "no dbus-daemon";
  }
  QDBusConnection client = QDBusConnection::connectToBus(bus.Address(), QStringLiteral("notifier"));
  ASSERT_TRUE(client.isConnected());
  bool windowActive = false;
  JobEndNotifier notifier(
      client, [&] { return windowActive; }, std::chrono::milliseconds(50));
  int key[6];

  // No service on the bus: nothing is sent, and the job counts as told.
  notifier.JobChanged(&key[0], JobState::Failed, {"Opening FAILED", "boom"});
  testing::WaitFor([] { return false; }, 150);

  QDBusConnection service = QDBusConnection::connectToBus(bus.Address(), QStringLiteral("service"));
  NotificationRecorder recorder;
  ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder,
                                     QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
  ASSERT_TRUE(testing::WaitFor([&] {
    return client.interface()
        ->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"))
        .value();
  }));

  // The changes of one burst, as the job's writer makes them: the state first, its error or
  // names just after. Only the last one's texts go out.
  notifier.JobChanged(&key[0], JobState::Failed, {"Opening FAILED", "boom again"});
  notifier.JobChanged(&key[1], JobState::Failed, {"Installation FAILED", "Initializing job"});
  notifier.JobChanged(&key[1], JobState::Failed,
                      {"Installation FAILED", "Error downloading parameter file (404)"});
  notifier.JobChanged(&key[2], JobState::Succeeded, {"Installation completed", "The plug-ins"});
  notifier.JobChanged(&key[4], JobState::Running, {"Installing...", ""});
  ASSERT_TRUE(testing::WaitFor([&] { return recorder.calls.size() >= 2; }));
  windowActive = true;  // the user is looking: no notice
  notifier.JobChanged(&key[3], JobState::Succeeded, {"Verifying installation", "ok"});
  notifier.JobChanged(&key[1], JobState::Failed, {"Installation FAILED", "later"});  // once
  testing::WaitFor([] { return false; }, 200);

  ASSERT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(recorder.calls[0].appName, "Kelvory Hopwell");
  EXPECT_EQ(recorder.calls[0].icon, "hopwell");
  EXPECT_EQ(recorder.calls[0].summary, "Installation FAILED");
  EXPECT_EQ(recorder.calls[0].body, "Error downloading parameter file (404)");
  EXPECT_EQ(recorder.calls[1].summary, "Installation completed");
  EXPECT_EQ(recorder.calls[1].body, "The plug-ins");
}

}  // namespace
}  // namespace hopwell

#include "JobEndNotifierTest.moc"
