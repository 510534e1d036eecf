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

TEST(JobEndNotifierTest, NotifiesAnEndedJobOnlyWhileTheWindowIsInactive) {
  testing::GuiApp();
  PrivateBus bus;
  if (bus.Address().isEmpty()) {
    if (std::getenv("CI") != nullptr) FAIL() << "dbus-daemon is needed (scripts/setup)";
    GTEST_SKIP() << "no dbus-daemon";
  }
  QDBusConnection client = QDBusConnection::connectToBus(bus.Address(), QStringLiteral("notifier"));
  ASSERT_TRUE(client.isConnected());
  JobEndNotifier notifier(client);
  int key[6];

  // No service on the bus: nothing is sent.
  EXPECT_FALSE(notifier.JobEnded(&key[0], JobState::Failed, "Opening FAILED", "boom", false));

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

  struct Case {
    const void* key;
    JobState state;
    bool windowActive;
    bool sent;
  };
  const Case cases[] = {
      {&key[1], JobState::Failed, false, true},
      {&key[1], JobState::Failed, false, false},  // once per job
      {&key[2], JobState::Succeeded, false, true},
      {&key[3], JobState::Succeeded, true, false},  // the user is looking already
      {&key[4], JobState::Running, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(notifier.JobEnded(c.key, c.state, "Job", "last message", c.windowActive), c.sent)
        << static_cast<int>(c.state) << " " << c.windowActive;
  }
  ASSERT_TRUE(testing::WaitFor([&] { return recorder.calls.size() >= 2; }));
  EXPECT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(recorder.calls[0].appName, "Kelvory Hopwell");
  EXPECT_EQ(recorder.calls[0].icon, "hopwell");
  EXPECT_EQ(recorder.calls[0].summary, "Job");
  EXPECT_EQ(recorder.calls[0].body, "last message") << "a failure carries its last message";
  EXPECT_EQ(recorder.calls[1].body, "") << "a success has only its description";
}

}  // namespace
}  // namespace hopwell

#include "JobEndNotifierTest.moc"
