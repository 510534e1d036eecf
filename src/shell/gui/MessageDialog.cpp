#include "shell/gui/MessageDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "shell/gui/ClientIcon.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/DialogSeam.h"

namespace hopwell {

MessageDialog::MessageDialog(const std::string& title, const std::string& text, QWidget* parent)
    : QDialog(parent) {
  namespace names = dialog_names;
  setObjectName(names::kMessage);
  setWindowTitle(title.empty() ? QString("Kelvory") : QString::fromStdString(title));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setMinimumWidth(390);

  auto* icon = new QLabel(this);
  icon->setPixmap(ClientIcon().pixmap(32, 32));
  auto* message = new QLabel(QString::fromStdString(text), this);
  message->setObjectName(names::kMessageText);
  message->setWordWrap(true);
  message->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName(names::kOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { done(0); });

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, Qt::AlignTop);
  layout->addWidget(message, 0, 1);
  layout->addWidget(ok, 1, 1, Qt::AlignRight);
  layout->setColumnStretch(1, 1);
  layout->setHorizontalSpacing(14);
  FixToNaturalSize(*this);
}

}  // namespace hopwell
