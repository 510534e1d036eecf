#pragma once

#include <QDialog>

class QLineEdit;

namespace hopwell {

// Asks for the user name and password a proxy server wants for a transfer.
class ProxyCredentialsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ProxyCredentialsDialog(const QString& url, QWidget* parent = nullptr);

  QString UserName() const;
  QString Password() const;

 private:
  QLineEdit* user_;
  QLineEdit* password_;
};

}  // namespace hopwell
