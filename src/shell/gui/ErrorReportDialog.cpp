#include "shell/gui/ErrorReportDialog.h"

#include <atomic>
#include <thread>

#include <QEventLoop>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "base/FrontEnd.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/DialogSeam.h"
#include "support/CurrentLogFile.h"
#include "support/HWZendeskUtils.h"
#include "support/SystemUserName.h"
#include "support/UserPreferences.h"

namespace hopwell {
namespace {

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

ErrorReportDialog::ErrorReportDialog(QWidget* parent, Sender sender, UserPreferences* preferences)
    : QDialog(parent),
      sender_(std::move(sender)),
      preferences_(preferences != nullptr ? *preferences : UserPreferences::Instance()) {
  namespace names = dialog_names;
  setObjectName(names::kErrorReport);
  setWindowTitle("Kelvory Hopwell Error Report");
  resize(480, 380);
  if (!sender_) {
    sender_ = [](const ErrorReportInput& input) {
      return SendErrorReport(input.name, input.email, input.comment);
    };
  }

  name_ = new QLineEdit(QString::fromStdString(preferences_.Name()), this);
  name_->setObjectName(names::kYourName);
  if (name_->text().isEmpty()) name_->setText(QString::fromStdString(SystemUserDisplayName()));
  email_ = new QLineEdit(QString::fromStdString(preferences_.Email()), this);
  email_->setObjectName(names::kYourEmail);
  comment_ = new QPlainTextEdit(this);
  comment_->setObjectName(names::kComment);
  logFile_ = new QLineEdit(QString::fromStdString(CurrentLogFile().string()), this);
  logFile_->setObjectName(names::kLogFile);
  logFile_->setReadOnly(true);

  auto* form = new QFormLayout();
  form->addRow("Your Name:", name_);
  form->addRow("Your Email:", email_);
  form->addRow("Comment:", comment_);

  auto* show = Button("Show", names::kShow, this);
  auto* cancel = Button("Cancel", names::kCancel, this);
  auto* send = Button("Send", names::kSend, this);
  send->setDefault(true);
  show->setEnabled(!logFile_->text().isEmpty());
  connect(show, &QPushButton::clicked, this, &ErrorReportDialog::ShowLog);
  connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
  connect(send, &QPushButton::clicked, this, &ErrorReportDialog::Send);

  auto* logRow = new QHBoxLayout();
  logRow->addWidget(logFile_, 1);
  logRow->addWidget(show);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(cancel);
  buttons->addWidget(send);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel("Please complete this form to submit an error report to Kelvory.", this));
  layout->addLayout(form, 1);
  layout->addWidget(new QLabel("Log file (will be attached to the report):", this));
  layout->addLayout(logRow);
  layout->addLayout(buttons);
}

void ErrorReportDialog::ShowLog() {
  const QString path = logFile_->text();
  if (path.isEmpty()) return;
  // Fully encoded, so that a path with blanks or non-ASCII names stays a valid URL.
  FrontEnd()->OpenUrl(QUrl::fromLocalFile(path).toEncoded().toStdString());
}

void ErrorReportDialog::reject() {
  // Closing while the request runs would leave its answer to a form that is gone.
  if (!sending_) QDialog::reject();
}

void ErrorReportDialog::Send() {
  const ErrorReportInput input =
      TrimmedReportInput(name_->text().toStdString(), email_->text().toStdString(),
                         comment_->toPlainText().toStdString());
  if (auto problem = ValidateReportInput(input)) {
    ShowMessageBox(this, kErrorReportCaption, *problem);
    return;
  }
  preferences_.SetName(input.name);
  preferences_.SetEmail(input.email);
  preferences_.Save();

  // The request runs on a thread of its own. The interface thread keeps serving events
  // meanwhile (repaints, and relays from later launches, which would time out otherwise);
  // the form itself takes no input until the answer is in.
  setCursor(Qt::WaitCursor);
  setEnabled(false);
  sending_ = true;
  std::atomic<bool> created{false};
  QEventLoop waiting;
  std::thread ticket([&] {
    created = sender_(input);
    QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
  });
  waiting.exec();
  ticket.join();
  sending_ = false;
  setEnabled(true);
  unsetCursor();
  if (created) {
    ticketCreated_ = true;
    done(0);
    return;
  }
  ShowMessageBox(this, kErrorReportCaption, kTicketFailedText);
}

}  // namespace hopwell
