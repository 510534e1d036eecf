#include "intake/ParameterDownload.h"

#include <gtest/gtest.h>

#include "common/LogCapture.h"
#include "common/ScriptedHttpHelper.h"
#include "intake/AppCmdParameters.h"

namespace hopwell {
namespace {

using testing::LogCapture;
using testing::ScriptedHttpHelper;

const char* const kDocument =
    "<data><params><param name=\"appname\" value=\"Adobe InDesign 2026\"/></params></data>";

class ParameterDownloadTest : public ::testing::Test {
 protected:
  ParameterDownloadTest() { http_.body = kDocument; }

  std::shared_ptr<AppCmdParameters> Open(const std::string& address, const std::string& token) {
    return DownloadOpenParameters<AppCmdParameters>(http_, job_, log_, address, token);
  }
  std::shared_ptr<AppCmdParameters> Install(const std::string& url) {
    return DownloadInstallParameters<AppCmdParameters>(http_, job_, log_, url);
  }
  std::shared_ptr<AppCmdParameters> Esef(const std::string& address, const std::string& token) {
    return DownloadEsefParameters<AppCmdParameters>(http_, job_, log_, address, token);
  }

  LogCapture capture_;
  ScriptedHttpHelper http_;
  JobStatus job_{ActionKind::Download, "Opening...", "kelv:open:x"};
  LogSource log_;
};

TEST_F(ParameterDownloadTest, AddressesOfTheThreeVariants) {
  EXPECT_EQ(OpenParametersUrl("http://127.0.0.1:18080/c/7"),
            "http://127.0.0.1:18080/c/7/api/v2/ext/chapter/download_parameters");
  // Exactly one "/" between address and path, however many the address ends with.
  EXPECT_EQ(OpenParametersUrl("http://127.0.0.1:18080/c/7//"),
            "http://127.0.0.1:18080/c/7/api/v2/ext/chapter/download_parameters");
  // The ESEF address is concatenated as it stands.
  EXPECT_EQ(EsefParametersUrl("http://127.0.0.1:18080/r/"),
            "http://127.0.0.1:18080/r//api/v2/ext/esef/download_parameters");
  EXPECT_EQ(ParameterDocumentUrl({ParameterVariant::Install, "http://h/p?x=1", ""}),
            "http://h/p?x=1");
}

TEST_F(ParameterDownloadTest, OpenSendsTheEscapedTokenAndLogsEachStep) {
  auto document = Open("http://127.0.0.1:18080/c/7/", "tok en");
  ASSERT_TRUE(document);
  EXPECT_TRUE(document->IsInitialized());
  EXPECT_EQ(document->AppName(), "Adobe InDesign 2026");
  ASSERT_EQ(http_.sent.size(), 1u);
  EXPECT_EQ(http_.sent[0].url, "http://127.0.0.1:18080/c/7/api/v2/ext/chapter/download_parameters");
  ASSERT_EQ(http_.sent[0].headers.size(), 1u);
  EXPECT_EQ(http_.sent[0].headers[0], StringPair("X-API-Token", "tok%20en"));
  EXPECT_TRUE(http_.sent[0].query.empty());
  EXPECT_EQ(job_.LastMessage(), "Downloading parameters...");
  EXPECT_EQ(job_.GetState(), JobState::Waiting);
  EXPECT_TRUE(capture_.Has("info", "    Downloading parameters..."));
  EXPECT_TRUE(capture_.Has("info", "    Token is tok en"));
  EXPECT_TRUE(capture_.Has(
      "info", "    Contacting http://127.0.0.1:18080/c/7/api/v2/ext/chapter/download_parameters"));
  EXPECT_TRUE(capture_.Has("info", std::string("    Parsing parameters:\n") + kDocument));
}

TEST_F(ParameterDownloadTest, InstallSendsNoHeader) {
  auto document = Install("http://127.0.0.1:18080/api/v2/ext/plugin/install_parameters");
  ASSERT_TRUE(document);
  ASSERT_EQ(http_.sent.size(), 1u);
  EXPECT_EQ(http_.sent[0].url, "http://127.0.0.1:18080/api/v2/ext/plugin/install_parameters");
  EXPECT_TRUE(http_.sent[0].headers.empty());
  EXPECT_EQ(job_.LastMessage(), "Downloading parameters...");
  EXPECT_FALSE(capture_.HasFragment("info", "Token is"));
  EXPECT_TRUE(capture_.HasFragment("info", "    Parsing parameters:\n"));
}

TEST_F(ParameterDownloadTest, EsefSendsTokenWithoutMessagesOrBodyLog) {
  auto document = Esef("http://127.0.0.1:18080/r", "t");
  ASSERT_TRUE(document);
  ASSERT_EQ(http_.sent.size(), 1u);
  EXPECT_EQ(http_.sent[0].url, "http://127.0.0.1:18080/r/api/v2/ext/esef/download_parameters");
  EXPECT_EQ(http_.sent[0].headers, HeaderList({{"X-API-Token", "t"}}));
  EXPECT_TRUE(job_.Messages().empty());
  EXPECT_FALSE(capture_.HasFragment("info", "Parsing parameters"));
  EXPECT_FALSE(capture_.HasFragment("info", "Downloading parameters"));
}

TEST_F(ParameterDownloadTest, RefusedAddressFailsAsNotWhiteListedAndSendsNothing) {
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    LogCapture log;
    JobStatus job(ActionKind::Install, "Installing...", "kelv:install:x");
    const ParameterRequest request{static_cast<ParameterVariant>(variant),
                                   "http://evil.example:18080/p", "t"};
    std::stringstream body;
    EXPECT_FALSE(FetchParameterDocument(http_, job, log_, request, body));
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_EQ(job.LastMessage(), "Error downloading parameter file (URL Not WhiteListed)");
    EXPECT_TRUE(log.Has("error", "    Error downloading parameter file: URL Not WhiteListed"));
  }
  EXPECT_TRUE(http_.sent.empty());
}

TEST_F(ParameterDownloadTest, TransportFailureCarriesTheHelpersDescription) {
  http_.result = HttpResult::ReadFailed;
  http_.errorText = "Transferred a partial file";
  EXPECT_FALSE(Open("http://127.0.0.1:18080/c", "t"));
  EXPECT_EQ(job_.GetState(), JobState::Failed);
  EXPECT_EQ(job_.LastMessage(), "Error downloading parameter file (Transferred a partial file)");
  EXPECT_TRUE(
      capture_.Has("error", "    Error downloading parameter file: Transferred a partial file"));

  // Without a description the parentheses stay empty; only result 7 gets a text of its own.
  JobStatus job(ActionKind::Install, "Installing...", "kelv:install:x");
  http_.errorText.clear();
  http_.result = HttpResult::OpenRequestFailed;
  EXPECT_FALSE(
      DownloadInstallParameters<AppCmdParameters>(http_, job, log_, "http://127.0.0.1:18080/p"));
  EXPECT_EQ(job.LastMessage(), "Error downloading parameter file ()");
}

// ESEF and install fail on an error status (an install that took the error page for its
// document reported a missing application); open parses whatever came.
TEST_F(ParameterDownloadTest, EsefAndInstallExamineTheStatus) {
  http_.status = 403;
  http_.body = "<html>Forbidden</html>";
  EXPECT_FALSE(Esef("http://127.0.0.1:18080/r", "t"));
  EXPECT_EQ(job_.GetState(), JobState::Failed);
  EXPECT_EQ(job_.LastMessage(), "Error download parameter file (403).");
  EXPECT_TRUE(capture_.Has("error", "    Error downloading parameter file. HTTP status: 403"));
  JobStatus install(ActionKind::Install, "Installing...", "kelv:install:x");
  EXPECT_FALSE(DownloadInstallParameters<AppCmdParameters>(http_, install, log_,
                                                           "http://127.0.0.1:18080/p"));
  EXPECT_EQ(install.GetState(), JobState::Failed);
  EXPECT_EQ(install.LastMessage(), "Error download parameter file (403).");

  // The same answer to an open request is parsed as a document.
  JobStatus job(ActionKind::Download, "Opening...", "kelv:open:x");
  auto document =
      DownloadOpenParameters<AppCmdParameters>(http_, job, log_, "http://127.0.0.1:18080/c", "t");
  ASSERT_TRUE(document);
  EXPECT_EQ(job.GetState(), JobState::Waiting);
  EXPECT_TRUE(document->IsInitialized());
  EXPECT_EQ(document->AppName(), "");

  http_.status = 399;
  http_.body = kDocument;
  EXPECT_TRUE(Esef("http://127.0.0.1:18080/r", "t"));
}

TEST_F(ParameterDownloadTest, EmptyBodyGivesDocumentThatIsNotInitialized) {
  http_.body.clear();
  auto document = Open("http://127.0.0.1:18080/c", "t");
  ASSERT_TRUE(document);
  EXPECT_FALSE(document->IsInitialized());
  EXPECT_EQ(document->AppName(), "");
  EXPECT_TRUE(capture_.Has("warning", "Not initialized"));
}

}  // namespace
}  // namespace hopwell
