#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace hopwell {

class Updater;

// The user's view of the update checker: automatic checks on or off, the time of the last
// check, and a button that checks now.
class PreferencesDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PreferencesDialog(Updater& updater, QWidget* parent = nullptr);

  QCheckBox* AutomaticCheckBox() const { return automatic_; }
  QPushButton* CheckNowButton() const { return checkNow_; }
  QLabel* LastCheckLabel() const { return lastCheck_; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CheckNow();

  Updater& updater_;
  QCheckBox* automatic_;
  QPushButton* checkNow_;
  QLabel* lastCheck_;
  QPushButton* ok_;
};

// Runs the dialog modally, owned by `parent` (DialogOwner() when null) and centred over it,
// or centred on the screen when there is no owner.
void ShowPreferencesDialog(Updater& updater, QWidget* parent = nullptr);

}  // namespace hopwell
