#include "intake/CommandIntake.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "base/FrontEnd.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "intake/CommandFactory.h"
#include "intake/SplitString.h"

namespace hopwell {
namespace {

using testing::LogCapture;
using testing::TempDir;
using testing::WriteFile;

// Records what it was built with and finishes at once.
struct Seen {
  std::mutex lock;
  std::vector<std::pair<std::string, std::string>> commands;  // name, argument
};

class RecordingCmd : public KelvCmd {
 public:
  RecordingCmd(Seen& seen, std::string name, std::string argument, JobPtr job)
      : seen_(seen), name_(std::move(name)), argument_(std::move(argument)), job_(std::move(job)) {}
  void DoExecute() override {
    {
      std::lock_guard lock(seen_.lock);
      seen_.commands.emplace_back(name_, argument_);
    }
    job_->SetState(JobState::Succeeded);
  }

 private:
  Seen& seen_;
  std::string name_;
  std::string argument_;
  JobPtr job_;
};

class IntakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"open", "save", "install", "test", "esef"}) {
      CommandFactory::Instance().Register(
          name, [this, name](const std::string& argument, const JobPtr& job) {
            return std::make_shared<RecordingCmd>(seen_, name, argument, job);
          });
    }
  }
  void TearDown() override {
    ASSERT_TRUE(WaitForCommandThreads(10000));
    for (const char* name : {"open", "save", "install", "test", "esef"}) {
      CommandFactory::Instance().Unregister(name);
    }
  }

  JobPtr Process(const std::string& command) {
    JobPtr job = ProcessCommand(command);
    EXPECT_TRUE(WaitForCommandThreads(10000));
    return job;
  }

  std::vector<std::pair<std::string, std::string>> SeenCommands() {
    std::lock_guard lock(seen_.lock);
    return seen_.commands;
  }

  Seen seen_;
};

TEST(SplitStringTest, SkipsEmptyTokensAndKeepsRemainder) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitString("kelv:test", ":", 2), (V{"kelv", "test"}));
  EXPECT_EQ(SplitString("kelv::test", ":", 2), (V{"kelv", "test"}));
  EXPECT_EQ(SplitString("kelv:open:https://h:8443/p:tok", ":", 2),
            (V{"kelv", "open", "https://h:8443/p:tok"}));
  EXPECT_EQ(SplitString("kelv:save:::", ":", 2), (V{"kelv", "save"}));
  EXPECT_EQ(SplitString(":::", ":", 2), V{});
  EXPECT_EQ(SplitString("", ":", 0), V{});
  EXPECT_EQ(SplitString("a::b:c:", ":", 0), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitString("a b,c", " ,", 0), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitString("kelv:", ":", 2), V{"kelv"});
}

TEST(RemoveQuotesTest, RemovesEachQuoteIndependently) {
  EXPECT_EQ(RemoveQuotes("\"kelv:test\""), "kelv:test");
  EXPECT_EQ(RemoveQuotes("\"kelv:test"), "kelv:test");
  EXPECT_EQ(RemoveQuotes("kelv:test\""), "kelv:test");
  EXPECT_EQ(RemoveQuotes("\""), "");
  EXPECT_EQ(RemoveQuotes("\"\""), "");
  EXPECT_EQ(RemoveQuotes(" kelv:test "), " kelv:test ");
}

// A command is gone, destructor and all, before its thread counts as finished: an exit
// that waits for the threads must not race a command still releasing its connections.
TEST_F(IntakeTest, CommandIsDestroyedBeforeItsThreadCountsAsFinished) {
  std::atomic<bool> destroyed{false};
  struct SlowToDestroy : KelvCmd {
    SlowToDestroy(std::atomic<bool>& flag, JobPtr job) : flag_(flag), job_(std::move(job)) {}
    ~SlowToDestroy() override {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      flag_ = true;
    }
    void DoExecute() override { job_->SetState(JobState::Succeeded); }
    std::atomic<bool>& flag_;
    JobPtr job_;
  };
  CommandFactory::Instance().Register("test", [&destroyed](const std::string&, const JobPtr& job) {
    return std::make_shared<SlowToDestroy>(destroyed, job);
  });
  Process("kelv:test");
  EXPECT_TRUE(destroyed);
}

TEST_F(IntakeTest, QuotedTestCommandStartsSelfTest) {
  JobPtr job = Process("\"kelv:test\"");
  EXPECT_EQ(job->Kind(), ActionKind::Verify);
  EXPECT_EQ(job->Caption(), "Verifying...");
  EXPECT_EQ(job->Messages().front(), "Initializing job");
  EXPECT_EQ(job->GetState(), JobState::Succeeded);
  ASSERT_EQ(SeenCommands().size(), 1u);
  EXPECT_EQ(SeenCommands()[0].first, "test");
}

TEST_F(IntakeTest, EveryNameGetsItsKindCaptionAndArgument) {
  struct Row {
    std::string command, name, argument, caption;
    ActionKind kind;
  };
  const Row rows[] = {
      {"kelv:open:https://h.example:8443/p:tok", "open", "https://h.example:8443/p:tok",
       "Opening...", ActionKind::Download},
      {"kelv:save", "save", "", "Saving...", ActionKind::Upload},
      {"kelv:install:https%2F%2Fh/x", "install", "https%2F%2Fh/x", "Installing...",
       ActionKind::Install},
      {"kelv::test:ignored", "test", "ignored", "Verifying...", ActionKind::Verify},
      {"kelv:esef:a:b", "esef", "a:b", "Opening ESEF...", ActionKind::EsefDownload},
  };
  for (const Row& row : rows) {
    JobPtr job = Process(row.command);
    EXPECT_EQ(job->Kind(), row.kind) << row.command;
    EXPECT_EQ(job->Caption(), row.caption) << row.command;
    EXPECT_EQ(job->CommandString(), row.command);
    ASSERT_FALSE(SeenCommands().empty());
    EXPECT_EQ(SeenCommands().back(), std::make_pair(row.name, row.argument)) << row.command;
  }
}

TEST_F(IntakeTest, UnknownAndMissingNamesFailWithWholeText) {
  LogCapture log;
  for (const std::string command : {"kelv:Save", "kelv:::", "kelv:bogus:x"}) {
    JobPtr job = Process(command);
    EXPECT_EQ(job->Kind(), ActionKind::Unknown);
    EXPECT_EQ(job->Caption(), "Unknown command");
    EXPECT_EQ(job->GetState(), JobState::Failed);
    EXPECT_EQ(job->LastMessage(), "Can't handle " + command + ".");
    EXPECT_TRUE(log.Has("warning", "  No Command for " + command));
  }
  EXPECT_TRUE(SeenCommands().empty());
}

TEST_F(IntakeTest, NameWithoutRegisteredClassBehavesAsUnknown) {
  CommandFactory::Instance().Unregister("esef");
  JobPtr job = Process("kelv:esef:x:y");
  EXPECT_EQ(job->Kind(), ActionKind::Unknown);
  EXPECT_EQ(job->LastMessage(), "Can't handle kelv:esef:x:y.");
}

TEST_F(IntakeTest, EmptyStringLeavesJobWaiting) {
  LogCapture log;
  for (const std::string command : {"", "\"", "\"\""}) {
    JobPtr job = Process(command);
    EXPECT_EQ(job->Kind(), ActionKind::Unknown);
    EXPECT_EQ(job->GetState(), JobState::Waiting);
    EXPECT_EQ(job->LastMessage(), "Nothing to do, command string is empty.");
    EXPECT_EQ(job->CommandString(), command);
  }
  EXPECT_TRUE(log.Has("warning", "Nothing to do, command string is empty"));
}

TEST_F(IntakeTest, PrefixAloneIsAMissingFile) {
  LogCapture log;
  JobPtr job = Process("kelv:");
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage(), "The file kelv: does not exist.");
  EXPECT_TRUE(log.Has("info", "The file kelv: does not exist."));
  EXPECT_TRUE(log.Has("error", "The file kelv: does not exist."));
}

TEST_F(IntakeTest, CommandFileIsReadJoinedAndDeleted) {
  TempDir dir;
  const auto file = dir / "command.txt";
  WriteFile(file, "kelv:\r\ntest\n");
  JobPtr job = Process("\"" + file.string() + "\"");
  EXPECT_EQ(job->Kind(), ActionKind::Verify);
  EXPECT_EQ(job->CommandString(), "kelv:test");
  EXPECT_FALSE(boost::filesystem::exists(file));
  ASSERT_EQ(SeenCommands().size(), 1u);
}

TEST_F(IntakeTest, FileWithoutCommandStaysAndFails) {
  TempDir dir;
  const auto file = dir / "notes.txt";
  WriteFile(file, "hello\nworld\n");
  JobPtr job = Process(file.string());
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->CommandString(), file.string());
  EXPECT_EQ(job->LastMessage(), "The KelvProtocolHandler could not execute the command: " +
                                    file.string() + "\n\nhelloworld.");
  EXPECT_TRUE(boost::filesystem::exists(file));
}

TEST_F(IntakeTest, FileNamingAnUnknownCommandIsStillDeleted) {
  TempDir dir;
  const auto file = dir / "command.txt";
  WriteFile(file, "kelv:nothing");
  JobPtr job = Process(file.string());
  EXPECT_EQ(job->LastMessage(), "Can't handle kelv:nothing.");
  EXPECT_FALSE(boost::filesystem::exists(file));
}

// Collects what intake announces.
class RecordingFrontEnd : public SilentFrontEnd {
 public:
  void JobAdded(JobStatus& job) override { added.push_back(&job); }
  void JobChanged(JobStatus&) override { ++changes; }
  ProxyAnswer AskProxyCredentials(const std::string&, ProxyCredentials&) override {
    return ProxyAnswer::Other;
  }
  std::vector<JobStatus*> added;
  std::atomic<int> changes{0};
};

TEST_F(IntakeTest, SubmitAnnouncesRegistersAndNotifies) {
  auto frontEnd = std::make_shared<RecordingFrontEnd>();
  SetFrontEnd(frontEnd);
  const std::size_t before = JobRegistry().size();
  SubmitCommand("kelv:nope");
  ASSERT_EQ(JobRegistry().size(), before + 1);
  JobStatus* job = JobRegistry().back().get();
  ASSERT_EQ(frontEnd->added.size(), 1u);
  EXPECT_EQ(frontEnd->added[0], job);
  EXPECT_FALSE(AnyJobActive() && job->GetState() != JobState::Failed);
  job->SetProgress(5);
  EXPECT_EQ(frontEnd->changes.load(), 1);
  SetFrontEnd(nullptr);
}

}  // namespace
}  // namespace hopwell
