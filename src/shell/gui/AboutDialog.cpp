#include "shell/gui/AboutDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "Version.h"
#include "shell/gui/ClientIcon.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/DialogSeam.h"

namespace hopwell {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  namespace names = dialog_names;
  setObjectName(names::kAbout);
  setWindowTitle("About Kelvory Hopwell");

  auto* icon = new QLabel(this);
  icon->setPixmap(ClientIcon().pixmap(32, 32));
  auto* version = new QLabel(QString("Kelvory Hopwell, Version %1").arg(kProductVersion), this);
  version->setObjectName(names::kVersionText);
  auto* revision = new QLabel(kBuildRevision, this);
  revision->setObjectName(names::kRevisionText);
  revision->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName(names::kOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { done(0); });

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(version, 0, 1);
  layout->addWidget(revision, 1, 1);
  layout->addWidget(ok, 0, 2, Qt::AlignTop);
  layout->setColumnStretch(1, 1);
  layout->setHorizontalSpacing(14);
  FixToNaturalSize(*this);
}

}  // namespace hopwell
