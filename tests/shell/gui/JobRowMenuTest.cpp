// The job list's row actions: what each row's menu offers, cancelling with the Delete key and
// its confirmation, retrying through intake, the job's folder and the log file.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <boost/filesystem/operations.hpp>

#include "GuiTestSupport.h"
#include "ViewsTestSupport.h"
#include "common/TempDir.h"
#include "intake/CommandIntake.h"
#include "intake/JobStatus.h"
#include "shell/gui/JobListModel.h"
#include "shell/gui/JobListView.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::Click;
using testing::DialogScript;
using testing::GuiApp;
using testing::RecordingFrontEnd;
using testing::TempDir;
using testing::WaitFor;

std::vector<std::string> ActionNames(QMenu* menu) {
  std::vector<std::string> names;
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator()) names.push_back(action->objectName().toStdString());
  }
  return names;
}

QAction* Find(QMenu* menu, const char* name) {
  for (QAction* action : menu->actions()) {
    if (action->objectName() == name) return action;
  }
  return nullptr;
}

class JobRowMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GuiApp();
    SetFrontEnd(frontEnd_);
    view_ = std::make_unique<JobListView>();
    view_->resize(485, 400);
  }
  void TearDown() override {
    view_.reset();
    SetFrontEnd(nullptr);
  }

  // A job shown as the top row.
  JobStatus& Add(ActionKind kind, JobState state, const std::string& folder = "",
                 const std::string& command = "kelv:open:x") {
    jobs_.push_back(std::make_shared<JobStatus>(kind, "caption", command));
    JobStatus& job = *jobs_.back();
    job.SetFolder(folder);
    job.SetState(state);
    view_->AddJob(&job);
    return job;
  }
  std::unique_ptr<QMenu> Menu(int row) {
    return std::unique_ptr<QMenu>(view_->RowMenu(row, nullptr));
  }
  void PressDelete() {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(view_.get(), &press);
  }

  TempDir dir_;
  std::shared_ptr<RecordingFrontEnd> frontEnd_ = std::make_shared<RecordingFrontEnd>();
  std::vector<JobPtr> jobs_;
  std::unique_ptr<JobListView> view_;
};

TEST_F(JobRowMenuTest, EachRowOffersWhatItsJobAllows) {
  const std::string folder = dir_.path().string();
  struct Row {
    ActionKind kind;
    JobState state;
    std::string folder;
    std::string command;
    std::vector<std::string> actions;
  };
  const std::string log = "actionOpenLogFile";
  const Row rows[] = {
      {ActionKind::Download, JobState::Waiting, "", "kelv:open:x", {"actionCancelJob", log}},
      {ActionKind::Download, JobState::Running, folder, "kelv:open:x", {"actionCancelJob", log}},
      {ActionKind::Download,
       JobState::Failed,
       folder,
       "kelv:open:x",
       {"actionRetryJob", "actionShowInFolder", log}},
      // A save that kept no request (it found none) has nothing to run again.
      {ActionKind::Upload, JobState::Cancelled, "", "kelv:save:7", {log}},
      {ActionKind::Download,
       JobState::Succeeded,
       folder,
       "kelv:open:x",
       {"actionShowInFolder", log}},
      {ActionKind::Upload, JobState::Succeeded, folder, "kelv:save:7", {"actionShowInFolder", log}},
      {ActionKind::EsefDownload,
       JobState::Succeeded,
       folder,
       "kelv:esef:a:b",
       {"actionShowInFolder", log}},
      {ActionKind::Install, JobState::Succeeded, folder, "kelv:install:x", {log}},
      {ActionKind::Verify, JobState::Failed, "", "kelv:test", {"actionRetryJob", log}},
      {ActionKind::Unknown, JobState::Failed, "", "", {log}},
  };
  for (const Row& row : rows) {
    Add(row.kind, row.state, row.folder, row.command);
    const auto menu = Menu(0);
    ASSERT_TRUE(menu);
    EXPECT_EQ(ActionNames(menu.get()), row.actions)
        << static_cast<int>(row.kind) << "/" << static_cast<int>(row.state);
  }
  EXPECT_EQ(view_->RowMenu(99, nullptr), nullptr);

  // The context menu opens on the row under the pointer.
  view_->show();
  ASSERT_TRUE(WaitFor([&] { return view_->isVisible(); }));
  const QPoint inside = view_->visualRect(view_->jobModel()->index(2)).center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, inside, view_->viewport()->mapToGlobal(inside));
  QApplication::sendEvent(view_->viewport(), &event);
  QMenu* shown = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    return shown != nullptr;
  }));
  EXPECT_EQ(view_->currentIndex().row(), 2);
  EXPECT_EQ(ActionNames(shown), rows[7].actions);
  shown->close();
}

TEST_F(JobRowMenuTest, DeleteCancelsAWaitingJobAndAsksForARunningOne) {
  JobStatus& waiting = Add(ActionKind::Download, JobState::Waiting);
  view_->setCurrentIndex(view_->jobModel()->index(0));
  DialogScript script;
  PressDelete();
  EXPECT_EQ(waiting.GetState(), JobState::Cancelled) << "a waiting job needs no confirmation";
  EXPECT_TRUE(script.Seen().empty());

  JobStatus& running = Add(ActionKind::Download, JobState::Running);
  running.SetDocumentName("Chapter 7");
  running.CommandStarted();  // its command ends it
  view_->setCurrentIndex(view_->jobModel()->index(0));
  std::string question;
  script.On("CancelJobBox", [&](QDialog& box) {
    question = qobject_cast<QMessageBox*>(&box)->text().toStdString();
    EXPECT_TRUE(Click(box, "noButton"));
  });
  PressDelete();
  EXPECT_FALSE(running.CancelRequested()) << "No keeps it running";
  EXPECT_NE(question.find("Downloading chapter Chapter 7"), std::string::npos) << question;

  script.On("CancelJobBox", [&](QDialog& box) { EXPECT_TRUE(Click(box, "yesButton")); });
  const auto menu = Menu(0);
  Find(menu.get(), "actionCancelJob")->trigger();
  EXPECT_TRUE(running.CancelRequested());
  EXPECT_EQ(running.GetState(), JobState::Running) << "until its command has taken its way out";
  running.CommandEnded();
  EXPECT_EQ(running.GetState(), JobState::Cancelled);
  EXPECT_EQ(script.Seen(), (std::vector<std::string>{"CancelJobBox", "CancelJobBox"}));
  PressDelete();  // an ended job: nothing to ask, nothing to do
  EXPECT_EQ(script.Seen().size(), 2u);
}

TEST_F(JobRowMenuTest, RetryShowInFolderAndOpenLogFile) {
  testing::ScopedEnv tmp("TMPDIR", (dir_ / "tmp").string());
  // A save's working folder is gone once the chapter is checked in: its parent is shown.
  const fs::path space = TempRoot() / "space";
  fs::create_directories(space);
  Add(ActionKind::Upload, JobState::Succeeded, (space / "12").string(), "kelv:save:7");
  Find(Menu(0).get(), "actionShowInFolder")->trigger();
  EXPECT_EQ(frontEnd_->Folders(), std::vector<fs::path>{space});

  const std::size_t before = JobRegistry().size();
  Add(ActionKind::Verify, JobState::Cancelled, "", "kelv:nosuchcommand:again");
  Find(Menu(0).get(), "actionRetryJob")->trigger();
  ASSERT_EQ(JobRegistry().size(), before + 1) << "handed to intake as a new job";
  EXPECT_EQ(JobRegistry().back()->CommandString(), "kelv:nosuchcommand:again");

  testing::WriteFile(LogFolder() / "Hopwell_00001.log", "a line\n");
  Find(Menu(0).get(), "actionOpenLogFile")->trigger();
  ASSERT_EQ(frontEnd_->Urls().size(), 1u);
  EXPECT_EQ(frontEnd_->Urls()[0], "file://" + (LogFolder() / "Hopwell_00001.log").string());
}

}  // namespace
}  // namespace hopwell
