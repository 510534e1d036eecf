#include "shell/QuitControl.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "base/FrontEnd.h"
#include "common/TempDir.h"
#include "intake/CommandFactory.h"
#include "intake/CommandIntake.h"
#include "intake/KelvCmd.h"
#include "shell/JobListDump.h"
#include "shell/Updater.h"

namespace hopwell {
namespace {

// Answers the quit question as told and counts how often it was asked.
class QuitAnswers final : public SilentFrontEnd {
 public:
  bool ConfirmQuit() override {
    ++asked;
    // What a second quit path does while the box is open.
    if (reenter) nestedResult = RequestQuit();
    return quit;
  }
  bool quit = false;
  int asked = 0;
  bool reenter = false;
  bool nestedResult = true;
};

// Every job submitted by earlier tests of this program is settled, so "no job active"
// holds at the start.
void SettleAllJobs() {
  for (const JobPtr& job : JobRegistry()) job->SetState(JobState::Succeeded);
}

class QuitControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SettleAllJobs();
    SetFrontEnd(answers_);
    SetQuitHandler([this](int code) { quitCodes_.push_back(code); });
  }
  void TearDown() override {
    SetQuitHandler({});
    SetStartedUpdater(nullptr);
    SetFrontEnd(nullptr);
    SettleAllJobs();
  }
  std::shared_ptr<QuitAnswers> answers_ = std::make_shared<QuitAnswers>();
  std::vector<int> quitCodes_;
};

TEST_F(QuitControlTest, QuitsWithoutAskingWhenNothingRuns) {
  EXPECT_EQ(CanShutdownCallback(), 1);
  EXPECT_TRUE(RequestQuit());
  EXPECT_EQ(answers_->asked, 0);
  EXPECT_EQ(quitCodes_, std::vector<int>{0});
}

TEST_F(QuitControlTest, WaitingJobMakesQuittingAsk) {
  // An empty command string leaves its job waiting for good.
  SubmitCommand("");
  ASSERT_EQ(JobRegistry().back()->GetState(), JobState::Waiting);
  EXPECT_EQ(CanShutdownCallback(), 0);

  answers_->quit = false;  // OK: let the transfers finish
  EXPECT_FALSE(RequestQuit());
  EXPECT_EQ(answers_->asked, 1);
  EXPECT_TRUE(quitCodes_.empty());
  EXPECT_EQ(JobRegistry().back()->GetState(), JobState::Waiting) << "the job list is untouched";

  answers_->quit = true;  // Cancel: quit anyway
  EXPECT_TRUE(RequestQuit());
  EXPECT_EQ(answers_->asked, 2);
  EXPECT_EQ(quitCodes_, std::vector<int>{0});
}

TEST_F(QuitControlTest, QuitRequestedWhileAskingDoesNotAskAgain) {
  SubmitCommand("");
  answers_->reenter = true;
  answers_->quit = true;
  EXPECT_TRUE(RequestQuit());
  EXPECT_EQ(answers_->asked, 1);
  EXPECT_FALSE(answers_->nestedResult);
  EXPECT_EQ(quitCodes_, std::vector<int>{0}) << "one quit, from the answered question";
  answers_->reenter = false;
  SubmitCommand("");  // the quit cancelled the first one
  EXPECT_TRUE(RequestQuit()) << "asking again once the box is gone";
  EXPECT_EQ(answers_->asked, 2);
}

// Runs until it is cancelled, then takes its failure path.
class UntilCancelledCmd final : public KelvCmd {
 public:
  explicit UntilCancelledCmd(JobPtr job) : job_(std::move(job)) {}
  void DoExecute() override {
    job_->SetState(JobState::Running);
    while (!CancelRequestedHere()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    job_->JobFailed("Stopped");
  }

 private:
  JobPtr job_;
};

TEST_F(QuitControlTest, CancelInTheBoxStopsEveryJobBeforeQuitting) {
  CommandFactory::Instance().Register("test", [](const std::string&, const JobPtr& job) {
    return std::make_shared<UntilCancelledCmd>(job);
  });
  SubmitCommand("kelv:test");
  SubmitCommand("kelv:test");
  const std::vector<JobPtr> jobs(JobRegistry().end() - 2, JobRegistry().end());
  for (const JobPtr& job : jobs) {
    for (int i = 0; i < 2000 && job->GetState() != JobState::Running; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  answers_->quit = false;  // OK: the transfers go on
  EXPECT_FALSE(RequestQuit());
  EXPECT_EQ(RunningCommandCount(), 2);

  answers_->quit = true;  // Cancel: abort them and quit
  EXPECT_TRUE(RequestQuit());
  EXPECT_EQ(RunningCommandCount(), 0) << "the quit waited for them";
  for (const JobPtr& job : jobs) {
    EXPECT_EQ(job->GetState(), JobState::Cancelled);
    EXPECT_EQ(job->LastMessage(), "Cancelled");
  }
  EXPECT_EQ(quitCodes_, std::vector<int>{0});
  CommandFactory::Instance().Unregister("test");
}

TEST_F(QuitControlTest, FinishedJobsDoNotAsk) {
  SubmitCommand("kelv:nosuchcommand");
  ASSERT_EQ(JobRegistry().back()->GetState(), JobState::Failed);
  EXPECT_TRUE(RequestQuit());
  EXPECT_EQ(answers_->asked, 0);
}

TEST_F(QuitControlTest, QuitStopsTheStartedUpdater) {
  testing::TempDir dir;
  std::atomic<int> fetches{0};
  Updater updater(
      [&](const std::string&, std::string& body, std::string&) {
        ++fetches;
        body = "<rss/>";
        return true;
      },
      dir / "UpdateSettings.xml");
  const auto waitForFetches = [&](int count) {
    for (int i = 0; i < 500 && fetches < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fetches == count;
  };
  updater.Init();
  ASSERT_TRUE(waitForFetches(1));
  SetStartedUpdater(&updater);
  EXPECT_TRUE(RequestQuit());
  EXPECT_EQ(quitCodes_, std::vector<int>{0});
  // Cleaned up by the quit: the checker can be started afresh (a started one ignores Init),
  // and the feed that could not be read makes the check due again.
  updater.Init();
  EXPECT_TRUE(waitForFetches(2));
  updater.Cleanup();
}

TEST(JobListDump, OneLinePerJobOldestFirst) {
  testing::TempDir dir;
  auto waiting = std::make_shared<JobStatus>(ActionKind::Verify, "Verifying...", "kelv:test");
  auto failed = std::make_shared<JobStatus>(ActionKind::Unknown, "Unknown command", "x");
  failed->JobFailed("Can't handle\nkelv:x.");
  ASSERT_TRUE(WriteJobListDump(dir / "jobs.txt", {waiting, failed}));
  const std::string text = testing::ReadFile(dir / "jobs.txt");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(text.rfind("0\t", 0), 0u);
  EXPECT_NE(text.find("\n2\t"), std::string::npos);
  EXPECT_NE(text.find("Can't handle kelv:x."), std::string::npos) << "line breaks flattened";
  EXPECT_FALSE(boost::filesystem::exists(dir / "jobs.txt.tmp"));
  EXPECT_FALSE(WriteJobListDump(dir / "missing" / "jobs.txt", {waiting}));
}

}  // namespace
}  // namespace hopwell
