// Cancelling a job: through the job (the front end's way) or the command base, before, during
// and after the command's work, and how the job ends in each case.
#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CancelToken.h"
#include "common/LogCapture.h"
#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"

namespace hopwell {
namespace {

// How the scripted command's work ends once it has started (and, when told, cancelled its
// own job first, as a user would while it runs).
enum class Ending { Succeed, JobFailed, SetFailed, LeaveRunning };

class ScriptedCmd final : public KelvCmd {
 public:
  ScriptedCmd(JobPtr job, Ending ending, bool cancelWhileRunning)
      : job_(std::move(job)), ending_(ending), cancelWhileRunning_(cancelWhileRunning) {}

  void DoExecute() override {
    executed = true;
    job_->SetState(JobState::Running);
    if (cancelWhileRunning_) job_->Cancel();
    sawCancelHere = CancelRequestedHere();
    {
      const CancelScope shield(nullptr);
      shieldedSawCancel = CancelRequestedHere();
    }
    switch (ending_) {
      case Ending::Succeed:
        job_->SetState(JobState::Succeeded);
        break;
      case Ending::JobFailed:
        job_->JobFailed("Stopped half way");
        break;
      case Ending::SetFailed:
        job_->AddMessage("Stopped half way");
        job_->SetState(JobState::Failed);
        break;
      case Ending::LeaveRunning:
        break;
    }
  }

  bool executed = false;
  bool sawCancelHere = false;
  bool shieldedSawCancel = true;

 private:
  JobPtr job_;
  Ending ending_;
  bool cancelWhileRunning_;
};

enum class CancelAt { Never, BeforeRun, WhileRunning, AfterRun };

struct CancelCase {
  const char* name;
  CancelAt when;
  Ending ending;
  JobState state;
  const char* lastMessage;
  bool executed;
};

void PrintTo(const CancelCase& c, std::ostream* out) {
  *out << c.name;
}

class JobCancelTest : public ::testing::TestWithParam<CancelCase> {};

std::atomic<int> changes{0};
void CountChange(JobStatus*) {
  ++changes;
}

TEST_P(JobCancelTest, EndsAsTheCommandLeftIt) {
  const CancelCase& row = GetParam();
  auto job = std::make_shared<JobStatus>(ActionKind::Download, "Opening...", "kelv:open:x");
  job->SetDocumentName("Doc");
  ScriptedCmd command(job, row.ending, row.when == CancelAt::WhileRunning);
  command.AttachJob(job);
  if (row.when == CancelAt::BeforeRun) {
    EXPECT_TRUE(job->Cancel());
  }
  EXPECT_EQ(job->GetState(), JobState::Waiting) << "a job whose command runs is ended by it";

  command.Run();
  EXPECT_FALSE(CancelRequestedHere()) << "the command's token is its thread's only while it runs";
  if (row.when == CancelAt::AfterRun) {
    EXPECT_FALSE(job->Cancel()) << "an ended job stays as it is";
  }

  EXPECT_EQ(command.executed, row.executed);
  EXPECT_EQ(job->GetState(), row.state);
  EXPECT_EQ(job->LastMessage(), row.lastMessage);
  if (command.executed) {
    EXPECT_FALSE(command.shieldedSawCancel);
  }
  EXPECT_EQ(command.sawCancelHere, row.when == CancelAt::WhileRunning);
  if (row.state == JobState::Cancelled) {
    EXPECT_EQ(job->Description(), "Download of chapter Doc Cancelled");
    const auto messages = job->Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kCancelledMessage), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobCancelTest,
    ::testing::Values(CancelCase{"BeforeItStarts", CancelAt::BeforeRun, Ending::Succeed,
                                 JobState::Cancelled, "Cancelled", false},
                      CancelCase{"FailurePathWithJobFailed", CancelAt::WhileRunning,
                                 Ending::JobFailed, JobState::Cancelled, "Cancelled", true},
                      CancelCase{"FailurePathSettingFailed", CancelAt::WhileRunning,
                                 Ending::SetFailed, JobState::Cancelled, "Cancelled", true},
                      CancelCase{"CommandLeavingItRunning", CancelAt::WhileRunning,
                                 Ending::LeaveRunning, JobState::Cancelled, "Cancelled", true},
                      CancelCase{"TooLateToStopTheWork", CancelAt::WhileRunning, Ending::Succeed,
                                 JobState::Succeeded, "", true},
                      CancelCase{"AfterItSucceeded", CancelAt::AfterRun, Ending::Succeed,
                                 JobState::Succeeded, "", true},
                      CancelCase{"AfterItFailed", CancelAt::AfterRun, Ending::JobFailed,
                                 JobState::Failed, "Stopped half way", true},
                      CancelCase{"NotCancelledFailureStaysFailed", CancelAt::Never,
                                 Ending::SetFailed, JobState::Failed, "Stopped half way", true}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

TEST(CancelPathsTest, JobWithoutACommandEndsAtOnce) {
  testing::LogCapture log;
  // An empty command string leaves its job waiting with no command to end it.
  JobStatus job(ActionKind::Unknown, "Unknown command", "");
  job.AddMessage("Nothing to do, command string is empty.");
  job.SetOnChange(&CountChange);
  changes = 0;
  EXPECT_TRUE(job.Cancel());
  EXPECT_EQ(job.GetState(), JobState::Cancelled);
  EXPECT_EQ(job.Description(), "Cancelled");
  EXPECT_EQ(job.LastMessage(), "Cancelled");
  EXPECT_EQ(changes.load(), 2) << "the state, then the message";
  EXPECT_FALSE(job.Cancel());
  EXPECT_EQ(job.Messages().size(), 2u);
  EXPECT_TRUE(log.Has("info", "  Cancel requested"));
}

TEST(CancelPathsTest, CommandWithoutAJobCancelsItsOwnRun) {
  auto job = std::make_shared<JobStatus>(ActionKind::Verify, "Verifying...", "kelv:test");
  ScriptedCmd command(job, Ending::Succeed, false);
  EXPECT_FALSE(command.CancelRequested());
  command.Cancel();
  EXPECT_TRUE(command.CancelRequested());
  EXPECT_FALSE(job->CancelRequested()) << "not attached: the job knows nothing of it";
  command.Run();
  EXPECT_FALSE(command.executed);
  EXPECT_EQ(job->GetState(), JobState::Waiting);
}

TEST(CancelPathsTest, CommandBaseCancelsThroughItsJob) {
  auto job = std::make_shared<JobStatus>(ActionKind::Install, "Installing...", "kelv:install:x");
  ScriptedCmd command(job, Ending::JobFailed, false);
  command.AttachJob(job);
  command.Cancel();
  EXPECT_TRUE(job->CancelRequested());
  command.Run();
  EXPECT_EQ(job->GetState(), JobState::Cancelled);
  EXPECT_EQ(job->Description(), "Installation Cancelled");
}

TEST(CancelScopeTest, NestsAndRestores) {
  auto outer = std::make_shared<CancelToken>();
  auto inner = std::make_shared<CancelToken>();
  inner->Cancel();
  EXPECT_FALSE(CancelRequestedHere());
  {
    const CancelScope first(outer);
    EXPECT_FALSE(CancelRequestedHere());
    {
      const CancelScope second(inner);
      EXPECT_TRUE(CancelRequestedHere());
    }
    EXPECT_FALSE(CancelRequestedHere());
    outer->Cancel();
    EXPECT_TRUE(CancelRequestedHere());
  }
  EXPECT_FALSE(CancelRequestedHere());
}

}  // namespace
}  // namespace hopwell
