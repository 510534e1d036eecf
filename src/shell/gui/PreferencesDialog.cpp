#include "shell/gui/PreferencesDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "shell/CentreRect.h"
#include "shell/RelativeTimeText.h"
#include "shell/Updater.h"
#include "shell/gui/Dialogs.h"

namespace hopwell {
namespace {

// 316 x 182 dialog units of the 8-point dialog font.
constexpr int kWidth = 474;
constexpr int kHeight = 296;

ScreenRect ToScreenRect(const QRect& rect) {
  return ScreenRect{rect.left(), rect.top(), rect.width(), rect.height()};
}

}  // namespace

PreferencesDialog::PreferencesDialog(Updater& updater, QWidget* parent)
    : QDialog(parent),
      updater_(updater),
      automatic_(new QCheckBox(QStringLiteral("Automatically check for updates"), this)),
      checkNow_(new QPushButton(QStringLiteral("Check for updates"), this)),
      lastCheck_(new QLabel(QStringLiteral("Never"), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)) {
  setObjectName(QStringLiteral("PreferencesDialog"));
  setWindowTitle(QStringLiteral("Kelvory Hopwell Preferences"));
  automatic_->setObjectName(QStringLiteral("automaticCheck"));
  checkNow_->setObjectName(QStringLiteral("checkNowButton"));
  checkNow_->setAutoDefault(false);
  lastCheck_->setObjectName(QStringLiteral("lastCheckValue"));
  ok_->setObjectName(QStringLiteral("okButton"));
  ok_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  cancel->setAutoDefault(false);

  auto* updates = new QGroupBox(QStringLiteral("Updates"), this);
  auto* grid = new QGridLayout(updates);
  grid->addWidget(automatic_, 0, 0, 1, 2);
  grid->addWidget(checkNow_, 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("Last check:"), updates), 1, 0);
  grid->addWidget(lastCheck_, 1, 1, 1, 2);
  grid->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(updates);
  layout->addStretch(1);
  layout->addLayout(buttons);

  connect(ok_, &QPushButton::clicked, this, &PreferencesDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &PreferencesDialog::reject);
  connect(checkNow_, &QPushButton::clicked, this, &PreferencesDialog::CheckNow);

  automatic_->setChecked(updater_.GetAutomaticCheckForUpdates());
  const std::int64_t last = updater_.GetLastCheckTime();
  lastCheck_->setText(last == -1 ? QStringLiteral("never")
                                 : QString::fromStdString(RelativeTimeTextSince(last)));
  resize(kWidth, kHeight);
}

void PreferencesDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  QRect outer;
  if (parentWidget() != nullptr) {
    outer = parentWidget()->window()->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    outer = screen->geometry();
  }
  // Under X11 the frame is reported as 1x1 for a moment while the window manager takes the
  // window: the window's own size is the better guess then.
  const QRect frame = frameGeometry().contains(geometry()) ? frameGeometry() : geometry();
  const ScreenRect placed = CentreOver(ToScreenRect(outer), frame.width(), frame.height());
  move(placed.left, placed.top);
  ok_->setFocus();
}

void PreferencesDialog::accept() {
  updater_.SetAutomaticCheckForUpdates(automatic_->isChecked());
  QDialog::accept();
}

void PreferencesDialog::CheckNow() {
  updater_.CheckUpdateWithUi();
  // Whether or not a check really starts: the user asked just now.
  lastCheck_->setText(QStringLiteral("now"));
}

void ShowPreferencesDialog(Updater& updater, QWidget* parent) {
  PreferencesDialog dialog(updater, parent != nullptr ? parent : DialogOwner());
  dialog.exec();
}

}  // namespace hopwell
