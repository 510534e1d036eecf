// Renders the job list with jobs in every state and each dialog to PNG files, so that a
// person can look at them: scripts/screenshots runs this with HOPWELL_SCREENSHOT_DIR set.
// In the ordinary test run the files go to a temporary folder and are only checked for
// being written and not blank.
#include <cstdlib>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QWindow>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem/operations.hpp>

#include "GuiTestSupport.h"
#include "common/TempDir.h"
#include "intake/JobStatus.h"
#include "shell/Updater.h"
#include "shell/gui/AboutDialog.h"
#include "shell/gui/AppMissingDialog.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/ErrorReportDialog.h"
#include "shell/gui/JobListModel.h"
#include "shell/gui/JobListView.h"
#include "shell/gui/MainWindow.h"
#include "shell/gui/MessageDialog.h"
#include "shell/gui/PreferencesDialog.h"
#include "shell/gui/TransferInfoDialog.h"
#include "support/UserPreferences.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::GuiApp;
using testing::TempDir;
using testing::WaitFor;

class ScreenshotsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GuiApp();
    if (const char* dir = std::getenv("HOPWELL_SCREENSHOT_DIR"); dir != nullptr && *dir != '\0') {
      folder_ = dir;
    } else {
      temp_ = std::make_unique<TempDir>();
      folder_ = temp_->path();
    }
    fs::create_directories(folder_);
    MakeJobs();
  }

  void MakeJobs() {
    const auto at = boost::posix_time::time_from_string("2026-12-09 07:15:42");
    auto add = [&](ActionKind kind, auto&& setup) {
      jobs_.push_back(std::make_unique<JobStatus>(kind, "", "kelv:screenshot"));
      jobs_.back()->SetTime(at);
      setup(*jobs_.back());
    };
    add(ActionKind::Verify, [](JobStatus& j) {
      j.SetState(JobState::Succeeded);
      j.AddMessage("Installation verified successfully");
    });
    add(ActionKind::Unknown, [](JobStatus& j) { j.JobFailed("Unknown command: bogus"); });
    add(ActionKind::Upload, [](JobStatus& j) {
      j.SetUploadName("Annual report 2026.indd");
      j.SetState(JobState::Running);
      j.JobFailed("The server refused the upload (HTTP 500)");
    });
    add(ActionKind::Download, [](JobStatus& j) {
      j.SetDocumentName("Chapter 4 - Results");
      j.SetState(JobState::Succeeded);
      j.AddMessage("Document opened in InDesign");
    });
    add(ActionKind::Install, [](JobStatus&) {});  // waiting
    add(ActionKind::Download, [](JobStatus& j) {
      j.SetDocumentName("Chapter 5");
      j.SetState(JobState::Running);
      j.SetProgress(12);
    });
    add(ActionKind::Download, [](JobStatus& j) {
      j.SetDocumentName("Chapter 6 - Outlook");
      j.SetState(JobState::Running);
      j.SetProgress(37.9);
      j.AddMessage("Downloading 3.2 MB of 8.4 MB, 6 s remaining");
    });
  }

  // Saves the widget's picture; returns the image for checks.
  QImage Save(QWidget& widget, const std::string& name) {
    widget.show();
    WaitFor([&] { return widget.isVisible(); }, 1000);
    WaitFor([] { return false; }, 80);  // let queued layout and paint events run
    const QImage image = widget.grab().toImage();
    const fs::path path = folder_ / (name + ".png");
    EXPECT_TRUE(image.save(QString::fromStdString(path.string()), "PNG")) << path;
    EXPECT_GT(fs::file_size(path), 200u) << path;
    return image;
  }

  void Select(JobListView& list, int row, bool focused) {
    list.setCurrentIndex(list.jobModel()->index(row));
    if (focused) {
      list.window()->activateWindow();
      list.setFocus(Qt::OtherFocusReason);
    } else {
      list.clearFocus();
    }
  }

  std::unique_ptr<TempDir> temp_;
  fs::path folder_;
  std::vector<std::unique_ptr<JobStatus>> jobs_;
};

TEST_F(ScreenshotsTest, MainWindowAndJobList) {
  MainWindow window(nullptr);
  window.resize(485, 400);
  JobListView& list = *window.JobList();
  for (auto& job : jobs_) list.AddJob(job.get());
  ASSERT_EQ(list.jobModel()->rowCount(), static_cast<int>(jobs_.size()));

  const QImage plain = Save(window, "main_window");
  EXPECT_EQ(plain.width(), 485);

  Select(list, 0, true);
  Save(window, "main_window_running_selected");

  // Every row at once, each state once plain and once selected and focused.
  JobListView tall;
  tall.resize(485, 56 * static_cast<int>(jobs_.size()));
  for (auto& job : jobs_) tall.AddJob(job.get());
  Save(tall, "job_list_all_states");
  for (int row = 0; row < tall.jobModel()->rowCount(); ++row) {
    Select(tall, row, true);
    Save(tall, "job_list_selected_row_" + std::to_string(row));
  }
  Select(tall, 4, false);
  Save(tall, "job_list_selected_unfocused");
}

TEST_F(ScreenshotsTest, Dialogs) {
  {
    AboutDialog dialog(nullptr);
    Save(dialog, "about");
  }
  {
    MessageDialog dialog("",
                         "Kelvory Hopwell cannot install the plug-ins while InDesign is "
                         "running. Please close InDesign and try again.");
    Save(dialog, "message");
  }
  {
    AppMissingDialog dialog("Adobe InDesign 2024 could not be found on this computer.");
    Save(dialog, "application_missing");
  }
  for (std::size_t i : {std::size_t{0}, std::size_t{2}, std::size_t{3}, std::size_t{6}}) {
    TransferInfoDialog dialog(*jobs_[i], nullptr);
    Save(dialog, "transfer_information_" + std::to_string(i));
  }
  {
    UserPreferences preferences(folder_ / "prefs" / "UserPreferences.xml");
    preferences.SetName("Anna Berg");
    preferences.SetEmail("anna@example.se");
    ErrorReportDialog dialog(
        nullptr, [](const ErrorReportInput&) { return false; }, &preferences);
    dialog.findChild<QPlainTextEdit*>(dialog_names::kComment)
        ->setPlainText("The upload failed twice.");
    Save(dialog, "error_report");
    QMessageBox box(QMessageBox::Information, "Kelvory Hopwell", "New error ticket was created.",
                    QMessageBox::Ok);
    Save(box, "ticket_created");
  }
  {
    Updater updater([](const std::string&, std::string&, std::string&) { return false; },
                    folder_ / "prefs" / "UpdateSettings.xml");
    PreferencesDialog dialog(updater);
    Save(dialog, "preferences");
  }
}

// On a real display: what the X server shows of the mapped, managed main window (the
// window manager's frame included), not what the widget paints for itself.
TEST_F(ScreenshotsTest, RealMainWindowOnTheDisplay) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
    GTEST_SKIP() << "needs a real X display (the test_shell_gui_x11 run)";
  }
  MainWindow window(nullptr);
  for (auto& job : jobs_) window.JobList()->AddJob(job.get());
  window.show();
  ASSERT_TRUE(WaitFor([&] { return window.windowHandle()->isExposed(); }));
  // The window manager's frame (reported as 1x1 while it takes the window) and the first paint.
  WaitFor([&] { return window.frameGeometry().height() > window.height(); }, 3000);
  WaitFor([] { return false; }, 200);
  const QRect frame = window.frameGeometry();
  const QImage image =
      window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
  const fs::path path = folder_ / "main_window_x11.png";
  ASSERT_TRUE(image.save(QString::fromStdString(path.string()), "PNG")) << path;
  EXPECT_GT(frame.height(), window.height()) << "managed: the window manager added its frame";
  int distinct = 0;
  for (int y = 0; y < image.height() && distinct < 2; y += 7) {
    distinct += image.pixel(image.width() / 2, y) != image.pixel(image.width() / 2, 0) ? 1 : 0;
  }
  EXPECT_GE(distinct, 1) << "not blank";
}

}  // namespace
}  // namespace hopwell
