#include "shell/gui/Dialogs.h"

#include <atomic>
#include <future>
#include <memory>
#include <mutex>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include "shell/gui/AboutDialog.h"
#include "shell/gui/AppMissingDialog.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/DialogSeam.h"
#include "shell/gui/ErrorReportDialog.h"
#include "shell/gui/MessageDialog.h"
#include "support/ErrorReportForm.h"

namespace hopwell {
namespace {

std::mutex observerLock;
DialogObserver observer;
QPointer<QWidget> owner;

QWidget* OwnerOr(QWidget* parent) {
  return parent != nullptr ? parent : owner.data();
}

DialogObserver CurrentObserver() {
  std::lock_guard lock(observerLock);
  return observer;
}

void ScheduleObserver(QDialog& dialog) {
  QPointer<QDialog> target(&dialog);
  QTimer::singleShot(0, &dialog, [target] {
    if (target.isNull()) return;
    if (DialogObserver current = CurrentObserver()) current(*target);
  });
}

// Released once the dialog has ended, or when the queued call that would have made it is
// dropped unrun (the application went away first), so the waiting thread never hangs on a
// dialog that cannot appear.
class Completion {
 public:
  Completion() : future_(promise_.get_future()) {}
  ~Completion() { Finish(); }
  void Finish() {
    if (!finished_.exchange(true)) promise_.set_value();
  }
  std::future<void> TakeFuture() { return std::move(future_); }

 private:
  std::promise<void> promise_;
  std::future<void> future_;
  std::atomic<bool> finished_{false};
};

// Shows the dialog `make` builds on the user-interface thread and waits until it ends.
// On that thread itself the dialog runs its own modal loop instead.
void RunBlockingDialog(std::function<QDialog*()> make) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr) return;
  if (QThread::currentThread() == app->thread()) {
    std::unique_ptr<QDialog> dialog(make());
    ExecObserved(*dialog);
    return;
  }
  auto completion = std::make_shared<Completion>();
  std::future<void> ended = completion->TakeFuture();
  // Command threads reach the user-interface thread only through this queued call.
  QMetaObject::invokeMethod(
      app,
      [make = std::move(make), completion]() mutable {
        QDialog* dialog = make();
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog, completion] {
          completion->Finish();
          dialog->deleteLater();
        });
        QObject::connect(dialog, &QObject::destroyed, [completion] { completion->Finish(); });
        ShowObserved(*dialog);
      },
      Qt::QueuedConnection);
  completion.reset();
  ended.wait();
}

}  // namespace

int ExecObserved(QDialog& dialog) {
  ScheduleObserver(dialog);
  return dialog.exec();
}

void ShowObserved(QDialog& dialog) {
  dialog.show();
  dialog.raise();
  dialog.activateWindow();
  ScheduleObserver(dialog);
}

void FixToNaturalSize(QDialog& dialog) {
  dialog.adjustSize();
  dialog.setFixedSize(dialog.size());
}

void ShowMessageBox(QWidget* owner, const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Information, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok, owner);
  box.setObjectName(dialog_names::kMessageBox);
  box.button(QMessageBox::Ok)->setObjectName(dialog_names::kOk);
  ExecObserved(box);
}

void SetDialogObserver(DialogObserver newObserver) {
  std::lock_guard lock(observerLock);
  observer = std::move(newObserver);
}

void SetDialogOwner(QWidget* newOwner) {
  owner = newOwner;
}

QWidget* DialogOwner() {
  return owner.data();
}

void ShowAboutDialog(QWidget* parent) {
  AboutDialog dialog(OwnerOr(parent));
  ExecObserved(dialog);
}

void ShowErrorReportDialog(QWidget* parent) {
  ErrorReportDialog dialog(OwnerOr(parent));
  ExecObserved(dialog);
  if (dialog.TicketCreated()) {
    ShowMessageBox(dialog.parentWidget(), kErrorReportCaption, kTicketCreatedText);
  }
}

// Made on the user-interface thread, where the owner is read.
void RunMessageDialog(const std::string& title, const std::string& text) {
  RunBlockingDialog([title, text] { return new MessageDialog(title, text, OwnerOr(nullptr)); });
}

void RunApplicationMissingDialog(const std::string& text) {
  RunBlockingDialog([text] { return new AppMissingDialog(text, OwnerOr(nullptr)); });
}

}  // namespace hopwell
