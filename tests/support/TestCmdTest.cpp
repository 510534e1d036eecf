#include "support/TestCmd.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Deployment.h"
#include "common/LogCapture.h"
#include "common/ScriptedHttpHelper.h"
#include "common/SimulatorTest.h"
#include "common/TempDir.h"
#include "net/HttpHelperCurl.h"
#include "net/UrlTools.h"

namespace hopwell {
namespace {

using testing::LogCapture;
using testing::ScriptedHttpHelper;
using testing::SimulatorProcess;

JobPtr VerifyJob() {
  return std::make_shared<JobStatus>(ActionKind::Verify, "Verifying...", "kelv:test");
}

TEST(TestCmdTest, EscapeSelfTestInputIsFiveBytes) {
  EXPECT_EQ(std::string(TestCmd::kEscapeInput).size(), 5u);
  EXPECT_EQ(UrlEscape(TestCmd::kEscapeInput), TestCmd::kEscapeExpected);
}

TEST(TestCmdTest, DeploymentTestUrlIsTheSecureLoginPageAndAllowed) {
  const std::string url = deployment::kTestUrl;
  EXPECT_EQ(url.rfind("https://", 0), 0u);
  EXPECT_NE(url.find("/login/index.html"), std::string::npos);
  ScriptedHttpHelper http;  // knows the loopback simulator addresses only
  EXPECT_TRUE(http.IsCommunicationAllowed(url));
}

TEST(TestCmdTest, AnyCompletedExchangeSucceeds) {
  for (long status : {200L, 404L, 500L}) {
    SCOPED_TRACE(status);
    LogCapture log;
    auto http = std::make_shared<ScriptedHttpHelper>();
    http->status = status;
    http->body = "<html>page</html>";
    JobPtr job = VerifyJob();
    TestCmd command(job, http, "https://127.0.0.1:18443/login/index.html");
    command.DoExecute();
    EXPECT_EQ(job->GetState(), JobState::Succeeded);
    ASSERT_EQ(http->sent.size(), 1u);
    EXPECT_EQ(http->sent[0].headers, HeaderList({{"X-Test", "asdf"}}));
    EXPECT_TRUE(http->sent[0].query.empty());
    EXPECT_TRUE(log.Has("info", "DoExecute()"));
    EXPECT_TRUE(log.HasFragment("info", "OS Version: "));
    EXPECT_TRUE(log.Has("info",
                        "Successfully established internet connection to "
                        "https://127.0.0.1:18443/login/index.html"));
    EXPECT_TRUE(log.Has("info", "Retrieved\n<html>page</html>"));
    EXPECT_TRUE(log.Has("info", "TestCmd ran successfully"));
    EXPECT_FALSE(log.HasFragment("warning", "Did not escape string correctly"));
  }
}

TEST(TestCmdTest, FailedExchangeFailsTheJob) {
  for (HttpResult result : {HttpResult::OpenRequestFailed, HttpResult::ReadFailed}) {
    LogCapture log;
    auto http = std::make_shared<ScriptedHttpHelper>();
    http->result = result;
    http->errorText = "Couldn't connect to server";
    JobPtr job = VerifyJob();
    TestCmd command(job, http, "https://127.0.0.1:18443/login/index.html");
    command.DoExecute();
    EXPECT_EQ(job->GetState(), JobState::Failed);
    EXPECT_EQ(job->LastMessage(), "Could not establish internet connection");
    EXPECT_TRUE(
        log.Has("error", "Could not access test url https://127.0.0.1:18443/login/index.html"));
    EXPECT_TRUE(log.Has("error", "    Couldn't connect to server"));
    EXPECT_FALSE(log.HasFragment("info", "TestCmd ran successfully"));
  }
}

TEST(TestCmdTest, RefusedTestUrlFailsTheSameWayAndSendsNothing) {
  LogCapture log;
  auto http = std::make_shared<ScriptedHttpHelper>();
  JobPtr job = VerifyJob();
  TestCmd command(job, http, "https://elsewhere.example/login/index.html");
  command.DoExecute();
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage(), "Could not establish internet connection");
  EXPECT_TRUE(http->sent.empty());
  EXPECT_TRUE(log.HasFragment("warning", "Communication is not allowed ("));
}

// The real helper against the simulator over HTTPS, verified with the test CA.
class TestCmdSimulatorTest : public testing::SimulatorTest {
 protected:
};

TEST_F(TestCmdSimulatorTest, FetchesTheLoginPageWithTheTestHeader) {
  LogCapture log;
  JobPtr job = VerifyJob();
  TestCmd command(job);
  command.DoExecute();
  ASSERT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.scheme, "https");
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, "/login/index.html");
  EXPECT_NE(request.rawHead.find("\r\nX-Test:asdf\r\n"), std::string::npos) << request.rawHead;
  EXPECT_EQ(request.Param("hwversion"), "1.7.1");
  EXPECT_EQ(request.Param("os"), "linux");
  EXPECT_EQ(request.Param("ver"), OsVersionString());
  EXPECT_TRUE(log.HasFragment("info", "Retrieved\n<!DOCTYPE html>"));
}

TEST_F(TestCmdSimulatorTest, ErrorStatusStillSucceeds) {
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "404", "path": "/login/index.html"})"));
  JobPtr job = VerifyJob();
  TestCmd command(job);
  command.DoExecute();
  EXPECT_EQ(job->GetState(), JobState::Succeeded);
  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].status, 404);
}

TEST_F(TestCmdSimulatorTest, TruncatedAnswerFails) {
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "truncate", "keep": 10})"));
  LogCapture log;
  JobPtr job = VerifyJob();
  TestCmd command(job);
  command.DoExecute();
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage(), "Could not establish internet connection");
  EXPECT_TRUE(log.HasFragment("error", "Could not access test url "));
  EXPECT_TRUE(log.HasFragment("error", "    transfer closed"));
}

// The system's store alone does not know the test CA; the log says why the connection failed.
// A CA file that is not there, or one that is no PEM file, leaves the certificate refused.
TEST_F(TestCmdSimulatorTest, UntrustedCertificateFailsWithTheReason) {
  const testing::TempDir dir;
  testing::WriteFile(dir / "garbage.pem", "not a certificate\n");
  const struct {
    std::string caFile;
    std::string reason;
  } cases[] = {{"", "SSL certificate problem: "},
               {(dir / "missing.pem").string(), "SSL certificate problem: "},
               {(dir / "garbage.pem").string(),
                "The CA file " + (dir / "garbage.pem").string() + " holds no readable PEM"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caFile);
    LogCapture log;
    auto http = std::make_shared<HttpHelperCurl>(
        std::vector<std::string>{Md5Hex("https://127.0.0.1:18443")}, c.caFile);
    JobPtr job = VerifyJob();
    TestCmd command(job, http, sim_->HttpsUrl("/login/index.html"));
    command.DoExecute();
    EXPECT_EQ(job->GetState(), JobState::Failed);
    EXPECT_EQ(job->LastMessage(), "Could not establish internet connection");
    EXPECT_TRUE(log.HasFragment("error", "    " + c.reason));
  }
  EXPECT_TRUE(sim_->Requests().empty());
}

}  // namespace
}  // namespace hopwell
