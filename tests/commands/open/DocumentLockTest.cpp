#include "commands/open/DocumentLock.h"

#include <gtest/gtest.h>

#include "commands/open/OpenStepsFixture.h"

namespace hopwell::testing {
namespace {

constexpr char kLock[] = "http://127.0.0.1:18080/lock/c1";
constexpr char kUnlock[] = "http://127.0.0.1:18080/unlock/c1";

class DocumentLockTest : public OpenStepsTest {
 protected:
  void SetUp() override { SetParameters({{"lockurl", kLock}, {"unlockurl", kUnlock}}); }
};

TEST_F(DocumentLockTest, LockAnswers) {
  struct Case {
    ScriptedHttpHelper::Answer answer;
    bool granted;
    std::string message;
  };
  const Case cases[] = {
      {{HttpResult::Ok, 200, "0"}, true, ""},
      {{HttpResult::Ok, 200, "0 whatever\nfollows"}, true, ""},
      {{HttpResult::Ok, 200, "1\nLocked by Anna\n"},
       false,
       "Failed to lock document for edit: Locked by Anna"},
      {{HttpResult::Ok, 200, "1\r\nLocked by Anna\r\n"},
       false,
       "Failed to lock document for edit: Locked by Anna\r"},
      {{HttpResult::Ok, 200, "1"}, false, "Failed to lock document for edit: "},
      {{HttpResult::Ok, 200, ""}, false, "Failed to lock document for edit: "},
      {{HttpResult::Ok, 500, "<html>\nInternal error\n"},
       false,
       "Failed to lock document for edit: Internal error"},
      {{HttpResult::ReadFailed, 0, ""},
       false,
       "Failed to lock document for edit (transfer failed)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer.body);
    JobStatus job(ActionKind::Download, "Opening...", "kelv:open:test");
    CommandContext command{http_, job, log_, "tok en"};
    http_.answers[kLock] = c.answer;
    http_.sent.clear();
    EXPECT_EQ(LockDocument(command, *parameters_), c.granted);
    EXPECT_EQ(job.GetState(), c.granted ? JobState::Waiting : JobState::Failed);
    EXPECT_EQ(job.LastMessage(), c.message);
    ASSERT_EQ(http_.sent.size(), 1u);
    EXPECT_EQ(http_.sent[0].headers, HeaderList{MakeTokenHeader("tok en")});
  }
}

TEST_F(DocumentLockTest, UnlockOutcomesAreOnlyLogged) {
  struct Case {
    ScriptedHttpHelper::Answer answer;
    std::string severity;
    std::string line;
  };
  const Case cases[] = {
      {{HttpResult::Ok, 200, R"({"status":"ok"})"}, "info", "Document unlocked"},
      {{HttpResult::Ok, 200, R"({"status":"locked"})"},
       "warning",
       R"(The server returned an error when unlocking: {"status":"locked"})"},
      {{HttpResult::Ok, 200, "<html>oops"},
       "warning",
       "The server returned an error when unlocking: <html>oops"},
      {{HttpResult::Ok, 404, "<html>404</html>"},
       "warning",
       "Failed to unlock document (HTTP Response Code: 404)"},
      {{HttpResult::OpenRequestFailed, 0, ""},
       "warning",
       "Failed to unlock document transfer failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    LogCapture logs;
    http_.answers[kUnlock] = c.answer;
    UnlockDocument(command_, *parameters_);
    EXPECT_TRUE(logs.Has(c.severity, c.line));
  }
  EXPECT_EQ(http_.sent.size(), std::size(cases));
  EXPECT_EQ(job_.GetState(), JobState::Waiting);
  EXPECT_TRUE(job_.Messages().empty());

  SetParameters({{"lockurl", kLock}});
  UnlockDocument(command_, *parameters_);
  EXPECT_TRUE(logs_.Has("warning", "No unlockurl?"));
  EXPECT_EQ(http_.sent.size(), std::size(cases));
}

}  // namespace
}  // namespace hopwell::testing
