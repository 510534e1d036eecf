#include "shell/gui/UpdateNotice.h"

#include <QMessageBox>
#include <QPushButton>

#include "Version.h"
#include "base/FrontEnd.h"
#include "shell/gui/Dialogs.h"

namespace hopwell {

void ShowUpdateNotice(const UpdateCheckResult& result, bool userAsked) {
  using Outcome = UpdateCheckResult::Outcome;
  if (result.outcome != Outcome::UpdateAvailable && !userAsked) return;
  QMessageBox box(DialogOwner());
  box.setObjectName(QStringLiteral("UpdateNotice"));
  box.setWindowTitle(QStringLiteral("Kelvory Hopwell Update"));
  box.setTextFormat(Qt::PlainText);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  QPushButton* download = nullptr;
  switch (result.outcome) {
    case Outcome::UpdateAvailable:
      box.setIcon(QMessageBox::Information);
      box.setText(QStringLiteral("Kelvory Hopwell %1 is available. You have version %2.")
                      .arg(QString::fromStdString(result.item.displayVersion),
                           QString::fromLatin1(kProductVersion)));
      download = box.addButton(QStringLiteral("Download"), QMessageBox::AcceptRole);
      download->setObjectName(QStringLiteral("downloadButton"));
      box.addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
      break;
    case Outcome::UpToDate:
      box.setIcon(QMessageBox::Information);
      box.setText(QStringLiteral("You're up to date: Kelvory Hopwell %1 is the newest version.")
                      .arg(QString::fromLatin1(kProductVersion)));
      box.addButton(QMessageBox::Ok);
      break;
    case Outcome::Failed:
      box.setIcon(QMessageBox::Warning);
      box.setText(QStringLiteral("Updates could not be checked: %1")
                      .arg(QString::fromStdString(result.error)));
      box.addButton(QMessageBox::Ok);
      break;
  }
  box.exec();
  if (download != nullptr && box.clickedButton() == download) {
    FrontEnd()->OpenUrl(result.item.downloadUrl);
  }
}

}  // namespace hopwell
