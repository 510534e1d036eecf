#include "shell/gui/MainWindow.h"

#include <chrono>
#include <mutex>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "GuiTestSupport.h"
#include "common/TempDir.h"
#include "intake/CommandIntake.h"
#include "resources/StringTable.h"
#include "shell/QuitControl.h"
#include "shell/ShellLinks.h"
#include "shell/SingleInstance.h"
#include "shell/gui/JobListModel.h"
#include "shell/gui/JobListView.h"
#include "shell/gui/QtFrontEnd.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::AnswerNextModal;
using testing::GuiApp;
using testing::WaitFor;

// Records where the window sends the user; jobs and dialogs go nowhere.
class PathRecorder final : public SilentFrontEnd {
 public:
  void OpenUrl(const std::string& url) override {
    std::lock_guard lock(lock_);
    urls.push_back(url);
  }
  void ExploreFolder(const fs::path& folder) override {
    std::lock_guard lock(lock_);
    folders.push_back(folder);
  }
  std::mutex lock_;
  std::vector<std::string> urls;
  std::vector<fs::path> folders;
};

std::vector<std::string> MenuTexts(QMenu* menu) {
  std::vector<std::string> texts;
  for (QAction* action : menu->actions()) {
    texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  }
  return texts;
}

void SettleAllJobs() {
  for (const JobPtr& job : JobRegistry()) job->SetState(JobState::Succeeded);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GuiApp();
    SetStringLocale(StringLocale::English);
    SettleAllJobs();
    SetQuitHandler([this](int code) { quitCodes_.push_back(code); });
  }
  void TearDown() override {
    SetQuitHandler({});
    SetFrontEnd(nullptr);
    SetStringLocale(std::nullopt);
    SettleAllJobs();
  }
  QAction* Action(MainWindow& window, const char* name) {
    auto* action = window.findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
  }
  std::vector<int> quitCodes_;
};

TEST_F(MainWindowTest, FrameMenusAndTrayMenu) {
  MainWindow window;
  EXPECT_EQ(window.windowTitle().toStdString(), "Kelvory Hopwell (1.7.1)");
  EXPECT_EQ(window.size(), QSize(485, 400));
  EXPECT_EQ(window.centralWidget(), window.JobList());

  const QList<QAction*> menus = window.menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text().toStdString(), "&File");
  EXPECT_EQ(menus[1]->text().toStdString(), "&Help");
  EXPECT_EQ(MenuTexts(menus[0]->menu()),
            (std::vector<std::string>{"Preferences...", "-", "E&xit"}));
  EXPECT_EQ(MenuTexts(menus[1]->menu()),
            (std::vector<std::string>{"Kelvory Support", "Open Local Storage",
                                      "Open Resources Folder", "-", "&About Kelvory Hopwell"}));
  ASSERT_NE(window.TrayIcon(), nullptr);
  ASSERT_NE(window.TrayIcon()->contextMenu(), nullptr);
  EXPECT_EQ(MenuTexts(window.TrayIcon()->contextMenu()),
            (std::vector<std::string>{"About...", "Quit"}));
  EXPECT_EQ(window.TrayIcon()->toolTip(), window.windowTitle());
  // Without an updater there is nothing to set.
  EXPECT_FALSE(Action(window, "actionPreferences")->isEnabled());
}

TEST_F(MainWindowTest, HelpItemsOpenSupportAndFolders) {
  auto recorder = std::make_shared<PathRecorder>();
  SetFrontEnd(recorder);
  MainWindow window;
  Action(window, "actionSupport")->trigger();
  Action(window, "actionOpenLocalStorage")->trigger();
  Action(window, "actionOpenResources")->trigger();
  EXPECT_EQ(recorder->urls, std::vector<std::string>{kSupportPageUrl});
  EXPECT_EQ(std::string(kSupportPageUrl).rfind("https://", 0), 0u);
  EXPECT_NE(std::string(kSupportPageUrl).find("/using-kelvory#using-kelvory"), std::string::npos);
  ASSERT_EQ(recorder->folders.size(), 2u);
  EXPECT_EQ(recorder->folders[0], TempRoot());
  EXPECT_EQ(recorder->folders[1], AppDataRoot());
  EXPECT_TRUE(fs::is_directory(TempRoot())) << "made, so the file manager can show it";
  EXPECT_TRUE(fs::is_directory(AppDataRoot()));
}

TEST_F(MainWindowTest, HiddenShortcutSubmitsTheInstallationTest) {
  MainWindow window;
  QAction* verify = Action(window, "actionVerify");
  EXPECT_EQ(verify->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
  EXPECT_TRUE(window.actions().contains(verify)) << "active without being on a menu";
  const std::size_t before = JobRegistry().size();
  verify->trigger();
  ASSERT_EQ(JobRegistry().size(), before + 1);
  EXPECT_EQ(JobRegistry().back()->CommandString(), "kelv:test");
}

TEST_F(MainWindowTest, RelayedCommandShowsTheWindowAndAddsTheTopRow) {
  MainWindow window;
  auto frontEnd = std::make_shared<QtFrontEnd>(&window);
  SetFrontEnd(frontEnd);
  SubmitCommand("kelv:older");
  window.hide();
  window.HandleRelayedCommand("kelv:newer");
  EXPECT_TRUE(window.isVisible());
  JobListModel* model = window.JobList()->jobModel();
  ASSERT_GE(model->rowCount(), 2);
  EXPECT_EQ(model->JobAt(0)->CommandString(), "kelv:newer");
  EXPECT_EQ(model->JobAt(1)->CommandString(), "kelv:older");
}

TEST_F(MainWindowTest, BareLaunchBringsTheWindowBackWithoutAJob) {
  MainWindow window;
  auto frontEnd = std::make_shared<QtFrontEnd>(&window);
  SetFrontEnd(frontEnd);
  const std::size_t before = JobRegistry().size();
  window.show();
  window.showMinimized();
  window.hide();
  window.HandleRelayedCommand("");
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_EQ(JobRegistry().size(), before);
}

TEST_F(MainWindowTest, RelaysFromTheSocketAreSubmitted) {
  testing::TempDir dir;
  SingleInstance instance(dir / "instance");
  ASSERT_TRUE(instance.Acquire());
  MainWindow window;
  window.WatchRelays(instance);
  const std::size_t before = JobRegistry().size();
  std::atomic<int> result{-1};
  std::thread sender([&] {
    result = static_cast<int>(SingleInstance::Relay(dir / "instance", "kelv:relayed:1"));
  });
  EXPECT_TRUE(WaitFor([&] { return JobRegistry().size() == before + 1; }));
  sender.join();
  EXPECT_EQ(result, static_cast<int>(SingleInstance::RelayResult::Delivered));
  ASSERT_EQ(JobRegistry().size(), before + 1);
  EXPECT_EQ(JobRegistry().back()->CommandString(), "kelv:relayed:1");
  EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, MinimiseKeepsTheWindowReachableWithoutATray) {
  // The offscreen platform has no system tray.
  MainWindow window;
  window.show();
  EXPECT_FALSE(window.HidesOnMinimise());
  window.showMinimized();
  WaitFor([] { return false; }, 100);
  EXPECT_TRUE(window.isVisible());
  window.ShowFromTray();
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, ClosingWithoutActiveJobsQuits) {
  MainWindow window;
  window.show();
  window.close();
  EXPECT_EQ(quitCodes_, std::vector<int>{0});
  EXPECT_TRUE(window.isVisible()) << "the window is never closed on its own";
}

struct QuitCase {
  const char* button;
  bool quits;
};

void PrintTo(const QuitCase& c, std::ostream* out) {
  *out << c.button;
}

class QuitWhileActive : public MainWindowTest, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(QuitWhileActive, AsksAndOnlyCancelQuits) {
  MainWindow window;
  auto frontEnd = std::make_shared<QtFrontEnd>(&window);
  SetFrontEnd(frontEnd);
  window.show();
  SubmitCommand("");  // stays waiting
  const int rows = window.JobList()->jobModel()->rowCount();

  std::string caption;
  std::string text;
  bool asked = false;
  AnswerNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    asked = true;
    caption = box->windowTitle().toStdString();
    text = box->text().toStdString();
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    auto* button = box->findChild<QPushButton*>(QString::fromLatin1(GetParam().button));
    ASSERT_NE(button, nullptr);
    button->click();
  });
  window.close();
  EXPECT_TRUE(asked);
  EXPECT_EQ(caption, LoadString(kIdsQuitCaption));
  EXPECT_EQ(text, LoadString(kIdsQuitText));
  EXPECT_EQ(quitCodes_.size(), GetParam().quits ? 1u : 0u);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.JobList()->jobModel()->rowCount(), rows) << "the list stays as it was";
}

INSTANTIATE_TEST_SUITE_P(Answers, QuitWhileActive,
                         ::testing::Values(QuitCase{"okButton", false},
                                           QuitCase{"cancelButton", true}),
                         [](const ::testing::TestParamInfo<QuitCase>& info) {
                           return std::string(info.param.button);
                         });

TEST_F(MainWindowTest, ExitAndTrayQuitGoThroughTheQuitDecision) {
  MainWindow window;
  auto recorder = std::make_shared<PathRecorder>();  // ConfirmQuit: keep running
  SetFrontEnd(recorder);
  Action(window, "actionExit")->trigger();
  EXPECT_EQ(quitCodes_.size(), 1u);
  SubmitCommand("");
  Action(window, "actionExit")->trigger();
  Action(window, "actionTrayQuit")->trigger();
  EXPECT_EQ(quitCodes_.size(), 1u) << "the user chose to let the transfers finish";
}

}  // namespace
}  // namespace hopwell
