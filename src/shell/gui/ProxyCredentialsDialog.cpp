#include "shell/gui/ProxyCredentialsDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/gui/DialogSeam.h"

namespace hopwell {

ProxyCredentialsDialog::ProxyCredentialsDialog(const QString& url, QWidget* parent)
    : QDialog(parent), user_(new QLineEdit(this)), password_(new QLineEdit(this)) {
  setObjectName(QStringLiteral("ProxyCredentialsDialog"));
  setWindowTitle(QStringLiteral("Proxy Authentication"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  user_->setObjectName(QStringLiteral("proxyUser"));
  password_->setObjectName(QStringLiteral("proxyPassword"));
  password_->setEchoMode(QLineEdit::Password);

  auto* text = new QLabel(
      QStringLiteral("The proxy server asks for a user name and password to reach\n%1").arg(url),
      this);
  text->setTextFormat(Qt::PlainText);
  auto* form = new QFormLayout();
  form->addRow(QStringLiteral("User name:"), user_);
  form->addRow(QStringLiteral("Password:"), password_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addLayout(form);
  layout->addWidget(buttons);
  FixToNaturalSize(*this);
}

QString ProxyCredentialsDialog::UserName() const {
  return user_->text();
}
QString ProxyCredentialsDialog::Password() const {
  return password_->text();
}

}  // namespace hopwell
