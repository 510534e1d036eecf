#pragma once

#include <functional>

#include <QDialog>

#include "support/ErrorReportForm.h"

class QLineEdit;
class QPlainTextEdit;

namespace hopwell {

class UserPreferences;

// "Kelvory Hopwell Error Report": name, e-mail and comment, sent with the current log file
// as a support ticket. A refused or failed ticket keeps the form open for another try.
class ErrorReportDialog : public QDialog {
  Q_OBJECT

 public:
  // Sends the report and waits for the answer; true when a ticket was created. Runs on a
  // thread of its own while the interface thread goes on serving events.
  using Sender = std::function<bool(const ErrorReportInput& input)>;

  // `sender` empty: the real ticket request (SendErrorReport). `preferences` null: the
  // process's UserPreferences.
  explicit ErrorReportDialog(QWidget* parent, Sender sender = {},
                             UserPreferences* preferences = nullptr);

  // True once the server confirmed the ticket; the dialog has then ended.
  bool TicketCreated() const { return ticketCreated_; }

  void reject() override;

 private:
  void Send();
  void ShowLog();

  Sender sender_;
  UserPreferences& preferences_;
  QLineEdit* name_;
  QLineEdit* email_;
  QPlainTextEdit* comment_;
  QLineEdit* logFile_;
  bool ticketCreated_ = false;
  bool sending_ = false;
};

}  // namespace hopwell
