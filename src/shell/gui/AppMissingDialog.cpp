#include "shell/gui/AppMissingDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "base/FrontEnd.h"
#include "shell/gui/ClientIcon.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/DialogSeam.h"

namespace hopwell {

const char* AppMissingDialog::HelpUrl() {
  return "https://support.kelvory.com/"
         "failed-to-locate-the-application-the-application-is-missing-0";
}

AppMissingDialog::AppMissingDialog(const std::string& text, QWidget* parent) : QDialog(parent) {
  namespace names = dialog_names;
  setObjectName(names::kAppMissing);
  setWindowTitle("The Application is Missing");
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setMinimumWidth(460);

  auto* icon = new QLabel(this);
  icon->setPixmap(ClientIcon().pixmap(32, 32));
  auto* message = new QLabel(QString::fromStdString(text), this);
  message->setObjectName(names::kMessageText);
  message->setWordWrap(true);
  message->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* help = new QPushButton("Help", this);
  help->setObjectName(names::kHelp);
  help->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName(names::kCancel);
  // A browser that cannot be started changes nothing here: the dialog stays open either way.
  connect(help, &QPushButton::clicked, this, [] { FrontEnd()->OpenUrl(HelpUrl()); });
  connect(cancel, &QPushButton::clicked, this, [this] { done(0); });

  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(help);
  buttons->addWidget(cancel);

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, Qt::AlignTop);
  layout->addWidget(message, 0, 1);
  layout->addLayout(buttons, 1, 0, 1, 2);
  layout->setColumnStretch(1, 1);
  layout->setHorizontalSpacing(14);
  FixToNaturalSize(*this);
}

}  // namespace hopwell
