// The parameter download through the real HTTP helper against the platform simulator.
#include <gtest/gtest.h>

#include "common/LogCapture.h"
#include "common/SimulatorTest.h"
#include "intake/AppCmdParameters.h"
#include "intake/ParameterDownload.h"
#include "net/UrlTools.h"

namespace hopwell {
namespace {

using testing::LogCapture;
using testing::SimulatorProcess;

class ParameterDownloadSimulatorTest : public testing::SimulatorTest {
 protected:
  HttpHelperPtr http_ = CreateHttpHelper();
  JobStatus job_{ActionKind::Download, "Opening...", "kelv:open:x"};
  LogSource log_;
};


TEST_F(ParameterDownloadSimulatorTest, OpenRequestCarriesTokenAndIdentification) {
  auto document = DownloadOpenParameters<AppCmdParameters>(
      *http_, job_, log_, sim_->HttpUrl("/chapters/42/"), "to ken/\xC3\xA4");
  ASSERT_TRUE(document) << job_.LastMessage();
  EXPECT_TRUE(document->IsInitialized());
  EXPECT_EQ(document->AppName(), "Adobe InDesign 2026");
  EXPECT_EQ(document->GetDocumentType(), AppCmdParameters::INDESIGN);
  EXPECT_TRUE(document->IsRecentApplication());

  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, "/chapters/42/api/v2/ext/chapter/download_parameters");
  EXPECT_NE(request.rawHead.find("\r\nX-API-Token:to%20ken%2F%C3%A4\r\n"), std::string::npos)
      << request.rawHead;
  EXPECT_EQ(request.query, "hwversion=1.7.1&os=linux&ver=" + UrlEscape(OsVersionString()));
}

TEST_F(ParameterDownloadSimulatorTest, InstallOverHttpsSendsNoToken) {
  JobStatus job(ActionKind::Install, "Installing...", "kelv:install:x");
  auto document = DownloadInstallParameters<AppCmdParameters>(
      *http_, job, log_, sim_->HttpsUrl("/api/v2/ext/plugin/install_parameters"));
  ASSERT_TRUE(document) << job.LastMessage();
  EXPECT_EQ(document->AppVersion(), "21.0");
  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].scheme, "https");
  EXPECT_FALSE(requests[0].HasHeader("X-API-Token"));
}

TEST_F(ParameterDownloadSimulatorTest, AnswerThatIsNotXmlGivesUninitializedDocument) {
  ASSERT_TRUE(sim_->AddScenario("\"not-xml\""));
  LogCapture log;
  auto document =
      DownloadOpenParameters<AppCmdParameters>(*http_, job_, log_, sim_->HttpUrl("/c"), "t");
  ASSERT_TRUE(document);
  EXPECT_FALSE(document->IsInitialized());
  EXPECT_EQ(document->AppName(), "");
  EXPECT_TRUE(log.Has("warning", "Not initialized"));
}

TEST_F(ParameterDownloadSimulatorTest, ErrorStatusFailsOnlyTheEsefVariant) {
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "status", "status": 403})"));
  auto esef =
      DownloadEsefParameters<AppCmdParameters>(*http_, job_, log_, sim_->HttpUrl("/r"), "t");
  EXPECT_FALSE(esef);
  EXPECT_EQ(job_.GetState(), JobState::Failed);
  EXPECT_EQ(job_.LastMessage(), "Error download parameter file (403).");

  JobStatus job(ActionKind::Download, "Opening...", "kelv:open:x");
  auto open = DownloadOpenParameters<AppCmdParameters>(*http_, job, log_, sim_->HttpUrl("/c"), "t");
  ASSERT_TRUE(open);
  EXPECT_NE(job.GetState(), JobState::Failed);
  EXPECT_EQ(open->AppName(), "");
}

TEST_F(ParameterDownloadSimulatorTest, TruncatedAnswerIsATransportFailure) {
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "truncate", "keep": 20})"));
  LogCapture log;
  EXPECT_FALSE(
      DownloadOpenParameters<AppCmdParameters>(*http_, job_, log_, sim_->HttpUrl("/c"), "t"));
  EXPECT_EQ(job_.GetState(), JobState::Failed);
  EXPECT_EQ(job_.LastMessage().rfind("Error downloading parameter file (", 0), 0u);
  EXPECT_TRUE(log.HasFragment("error", "    Error downloading parameter file: "));
}

TEST_F(ParameterDownloadSimulatorTest, AddressesOffTheAllowListReachNoServer) {
  for (const std::string& address :
       {std::string("http://127.0.0.1:18081/p"), std::string("https://127.0.0.1:18080/p"),
        std::string("ftp://127.0.0.1:18080/p"),
        std::string("http://evil.example@127.0.0.1:18080/p")}) {
    SCOPED_TRACE(address);
    JobStatus job(ActionKind::Install, "Installing...", "kelv:install:x");
    EXPECT_FALSE(DownloadInstallParameters<AppCmdParameters>(*http_, job, log_, address));
    EXPECT_EQ(job.LastMessage(), "Error downloading parameter file (URL Not WhiteListed)");
  }
  EXPECT_TRUE(sim_->Requests().empty());
}

}  // namespace
}  // namespace hopwell
