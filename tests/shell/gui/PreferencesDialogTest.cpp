#include "shell/gui/PreferencesDialog.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "GuiTestSupport.h"
#include "ViewsTestSupport.h"
#include "common/TempDir.h"
#include "shell/Updater.h"
#include "shell/gui/UpdateNotice.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::AnswerNextModal;
using testing::GuiApp;
using testing::WaitFor;

const char* const kFeed =
    "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
    "<enclosure url=\"https://apps.example/h.deb\" "
    "sparkle:version=\"1.7.1.0\"/></item></channel></rss>";

class PreferencesDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { GuiApp(); }
  std::unique_ptr<Updater> Make() {
    return std::make_unique<Updater>(
        [this](const std::string&, std::string& body, std::string&) {
          ++fetches_;
          body = kFeed;
          return true;
        },
        dir_ / "UpdateSettings.xml");
  }
  // Makes the settings file say the last check was `secondsAgo` ago.
  void LastCheckedAgo(std::int64_t secondsAgo) {
    testing::WriteFile(
        dir_ / "UpdateSettings.xml",
        "<UpdateSettings><AutomaticCheck>1</AutomaticCheck><LastCheckTime>" +
            std::to_string(static_cast<std::int64_t>(std::time(nullptr)) - secondsAgo) +
            "</LastCheckTime></UpdateSettings>");
  }
  testing::TempDir dir_;
  std::atomic<int> fetches_{0};
};

TEST_F(PreferencesDialogTest, NeverCheckedShowsLowerCaseNever) {
  auto updater = Make();
  PreferencesDialog dialog(*updater);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Kelvory Hopwell Preferences");
  EXPECT_EQ(dialog.LastCheckLabel()->text().toStdString(), "never");
  EXPECT_TRUE(dialog.AutomaticCheckBox()->isChecked());
  EXPECT_EQ(dialog.AutomaticCheckBox()->text().toStdString(), "Automatically check for updates");
  EXPECT_EQ(dialog.CheckNowButton()->text().toStdString(), "Check for updates");
}

TEST_F(PreferencesDialogTest, LastCheckInWords) {
  auto updater = Make();
  LastCheckedAgo(2 * 3600 + 30);
  EXPECT_EQ(PreferencesDialog(*updater).LastCheckLabel()->text().toStdString(), "2 hours ago");
  LastCheckedAgo(-600);  // clock set back
  EXPECT_EQ(PreferencesDialog(*updater).LastCheckLabel()->text().toStdString(), "just now");
}

TEST_F(PreferencesDialogTest, CheckForUpdatesSaysNowAndChecks) {
  auto updater = Make();
  std::atomic<int> shown{0};
  updater->SetResultHandler([&](const UpdateCheckResult&, bool userAsked) {
    if (userAsked) ++shown;
  });
  PreferencesDialog dialog(*updater);
  dialog.CheckNowButton()->click();
  EXPECT_EQ(dialog.LastCheckLabel()->text().toStdString(), "now");
  EXPECT_TRUE(WaitFor([&] { return shown == 1; }));
  EXPECT_EQ(fetches_, 1);
  EXPECT_FALSE(dialog.isVisible() && dialog.result() != 0) << "the dialog stays open";
  updater->Cleanup();
}

TEST_F(PreferencesDialogTest, OkStoresTheCheckBoxCancelDoesNot) {
  auto updater = Make();
  {
    PreferencesDialog dialog(*updater);
    dialog.AutomaticCheckBox()->setChecked(false);
    dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
  }
  EXPECT_TRUE(updater->GetAutomaticCheckForUpdates()) << "Cancel leaves automatic checks on";
  {
    PreferencesDialog dialog(*updater);
    dialog.AutomaticCheckBox()->setChecked(false);
    dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
  }
  EXPECT_FALSE(updater->GetAutomaticCheckForUpdates());
  PreferencesDialog again(*updater);
  EXPECT_FALSE(again.AutomaticCheckBox()->isChecked());
}

TEST_F(PreferencesDialogTest, OpensCentredOnTheScreenWithFocusOnOk) {
  auto updater = Make();
  bool checked = false;
  AnswerNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<PreferencesDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // A window manager adds its title bar after placement, and on a busy machine it may
    // place the frame a moment after the dialog shows: allow for both. While it reparents
    // the window, Qt has been seen to report a 1x1 frame: then the window itself counts.
    const auto offCentre = [&] {
      const QRect reported = dialog->frameGeometry();
      const QRect frame = reported.contains(dialog->geometry()) ? reported : dialog->geometry();
      const int decoration = frame.height() - dialog->geometry().height();
      return std::max(
                 std::abs(frame.left() - (screen.left() + (screen.width() - frame.width()) / 2)),
                 std::abs(frame.top() - (screen.top() + (screen.height() - frame.height()) / 2))) -
             decoration;
    };
    WaitFor([&] { return offCentre() <= 0; }, 3000);
    const auto text = [](const QRect& r) {
      return std::to_string(r.width()) + "x" + std::to_string(r.height()) + "+" +
             std::to_string(r.x()) + "+" + std::to_string(r.y());
    };
    EXPECT_LE(offCentre(), 0) << "frame " << text(dialog->frameGeometry()) << ", window "
                              << text(dialog->geometry()) << ", screen " << text(screen);
    EXPECT_EQ(dialog->focusWidget(), dialog->findChild<QPushButton*>(QStringLiteral("okButton")));
    checked = true;
    dialog->reject();
  });
  ShowPreferencesDialog(*updater);
  EXPECT_TRUE(checked);
}

TEST_F(PreferencesDialogTest, UpdateNoticeOffersTheDownload) {
  auto recorder = std::make_shared<testing::RecordingFrontEnd>();
  SetFrontEnd(recorder);
  UpdateCheckResult result;
  result.outcome = UpdateCheckResult::Outcome::UpdateAvailable;
  result.item.displayVersion = "1.8.0";
  result.item.downloadUrl = "https://apps.example/hopwell-1.8.0.deb";
  std::string text;
  AnswerNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text().toStdString();
    box->findChild<QPushButton*>(QStringLiteral("downloadButton"))->click();
  });
  ShowUpdateNotice(result, false);
  EXPECT_NE(text.find("1.8.0 is available"), std::string::npos) << text;
  EXPECT_EQ(recorder->Urls(), std::vector<std::string>{"https://apps.example/hopwell-1.8.0.deb"});

  // Nothing new and nobody asked: no notice at all (a modal would block here).
  result.outcome = UpdateCheckResult::Outcome::UpToDate;
  ShowUpdateNotice(result, false);
  result.outcome = UpdateCheckResult::Outcome::Failed;
  ShowUpdateNotice(result, false);
  SetFrontEnd(nullptr);
}

}  // namespace
}  // namespace hopwell
