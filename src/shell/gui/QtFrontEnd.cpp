#include "shell/gui/QtFrontEnd.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <exception>
#include <future>
#include <memory>
#include <thread>

#include "intake/CommandIntake.h"
#include "intake/JobStatus.h"
#include "resources/StringTable.h"
#include "shell/DesktopOpener.h"
#include "shell/JobEndNotice.h"
#include "shell/JobListDump.h"
#include "shell/gui/DialogSeam.h"
#include "shell/gui/Dialogs.h"
#include "shell/gui/JobEndNotifier.h"
#include "shell/gui/JobListView.h"
#include "shell/gui/MainWindow.h"
#include "shell/gui/ProxyCredentialsDialog.h"

namespace hopwell {
namespace {

constexpr int kDumpDelayMilliseconds = 50;

bool OnUiThread() {
  return QThread::currentThread() == qApp->thread();
}

// Runs `work` on the user-interface thread and waits for it; the caller's thread is the
// only one blocked. The caller waits on a future rather than on Qt's blocking connection:
// what `work` wrote is then visibly handed over to the caller (the promise orders it), and
// an exception from `work` reaches the caller. The promise is shared so that the call
// object Qt keeps on the user-interface thread never refers to the caller's frame.
template <typename Work>
void RunOnUiThread(Work work) {
  if (OnUiThread()) {
    work();
    return;
  }
  // What the caller prepared for `work` (its arguments, the objects it refers to) is
  // released here and acquired by the user-interface thread before it runs `work`. Qt's
  // event queue orders the two already; this pair states it in the language's own terms,
  // which is what thread checkers see.
  struct Handover {
    std::promise<void> done;
    std::atomic<bool> posted{false};
  };
  auto handover = std::make_shared<Handover>();
  std::future<void> finished = handover->done.get_future();
  handover->posted.store(true, std::memory_order_release);
  QMetaObject::invokeMethod(
      qApp,
      [work = std::move(work), handover] {
        (void)handover->posted.load(std::memory_order_acquire);
        try {
          work();
          handover->done.set_value();
        } catch (...) {
          handover->done.set_exception(std::current_exception());
        }
      },
      Qt::QueuedConnection);
  try {
    finished.get();
  } catch (const std::future_error& error) {
    // Qt dropped the call without running it (the application is going down): the caller
    // keeps its defaults, as it did with a blocking connection.
    if (error.code() != std::future_errc::broken_promise) throw;
  }
}

}  // namespace

QtFrontEnd::QtFrontEnd(MainWindow* window) : window_(window) {
  dumpTimer_ = new QTimer(this);
  dumpTimer_->setSingleShot(true);
  dumpTimer_->setInterval(kDumpDelayMilliseconds);
  connect(dumpTimer_, &QTimer::timeout, this, &QtFrontEnd::WriteDump);
  notifier_ = new JobEndNotifier(
      QDBusConnection::sessionBus(), [this] { return window_->isActiveWindow(); },
      JobEndNotifier::kSettle, this);
}

QtFrontEnd::~QtFrontEnd() = default;

void QtFrontEnd::JobAdded(JobStatus& job) {
  window_->JobList()->AddJob(&job);
  ScheduleDump();
  NoticeEnd(job);
}

void QtFrontEnd::JobChanged(JobStatus& job) {
  window_->JobList()->JobChanged(&job);
  ScheduleDump();
  NoticeEnd(job);
}

void QtFrontEnd::NoticeEnd(JobStatus& job) {
  const JobState state = job.GetState();
  if (IsActive(state)) return;
  // Any thread: the job's texts travel by value, the job itself only as a key.
  QMetaObject::invokeMethod(
      this,
      [this, key = static_cast<const void*>(&job), state, notice = MakeJobEndNotice(job)] {
        notifier_->JobChanged(key, state, notice);
      },
      Qt::QueuedConnection);
}

void QtFrontEnd::ShowMessageDialog(const std::string& title, const std::string& text) {
  RunMessageDialog(title, text);
}

void QtFrontEnd::ShowApplicationMissing(const std::string& text) {
  RunApplicationMissingDialog(text);
}

void QtFrontEnd::OpenUrl(const std::string& url) {
  const QUrl target(QString::fromStdString(url), QUrl::StrictMode);
  HW_LOG(log_, info) << "  Opening " << url;
  OpenOrSaySo(target, "No web browser could be started to open " + url);
}

void QtFrontEnd::ExploreFolder(const boost::filesystem::path& folder) {
  const QUrl target = QUrl::fromLocalFile(QString::fromStdString(folder.string()));
  HW_LOG(log_, info) << "  Exploring " << folder;
  OpenOrSaySo(target, "No file manager could be started to show the folder " + folder.string());
}

void QtFrontEnd::OpenOrSaySo(const QUrl& target, const std::string& failure) {
  // xdg-open may be missing or find no handler; the user then learns why nothing opened. It
  // may also wait for the handler, so it is watched from a thread of its own.
  std::thread([self = QPointer<QtFrontEnd>(this),
               text = (target.isLocalFile() ? target.toLocalFile()
                                            : target.toString(QUrl::FullyEncoded))
                          .toStdString(),
               failure] {
    if (OpenWithDesktop(text)) return;
    QMetaObject::invokeMethod(
        qApp,
        [self, failure] {
          if (self == nullptr) return;
          HW_LOG(self->log_, warning) << "  " << failure;
          ShowMessageBox(self->window_, LoadString(kIdsAppTitle), failure);
        },
        Qt::QueuedConnection);
  }).detach();
}

bool QtFrontEnd::ConfirmQuit() {
  bool quit = false;
  RunOnUiThread([this, &quit] {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(LoadString(kIdsQuitCaption)),
                    QString::fromStdString(LoadString(kIdsQuitText)),
                    QMessageBox::Ok | QMessageBox::Cancel, window_);
    box.setObjectName(QStringLiteral("ConfirmQuitBox"));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setObjectName(QStringLiteral("okButton"));
    box.button(QMessageBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    // OK lets the transfers finish; only Cancel quits.
    quit = box.exec() == QMessageBox::Cancel;
  });
  return quit;
}

ProxyAnswer QtFrontEnd::AskProxyCredentials(const std::string& url, ProxyCredentials& credentials) {
  ProxyAnswer answer = ProxyAnswer::Cancelled;
  RunOnUiThread([&] {
    ProxyCredentialsDialog dialog(QString::fromStdString(url), window_);
    if (dialog.exec() == QDialog::Accepted) {
      credentials.user = dialog.UserName().toStdString();
      credentials.password = dialog.Password().toStdString();
      answer = ProxyAnswer::Retry;
    }
  });
  return answer;
}

void QtFrontEnd::SetJobDumpPath(const boost::filesystem::path& path) {
  dumpPath_ = path;
  ScheduleDump();
}

void QtFrontEnd::ScheduleDump() {
  if (dumpPath_.empty() || dumpPending_.exchange(true)) return;
  // Any thread: the timer is started on the user-interface thread.
  QMetaObject::invokeMethod(
      this, [this] { dumpTimer_->start(); }, Qt::QueuedConnection);
}

void QtFrontEnd::WriteDump() {
  dumpPending_ = false;
  if (!WriteJobListDump(dumpPath_, JobRegistry())) {
    HW_LOG(log_, warning) << "  Job list not written to " << dumpPath_;
  }
}

}  // namespace hopwell
