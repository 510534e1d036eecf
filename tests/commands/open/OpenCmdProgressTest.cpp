#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "commands/open/OpenCmd.h"
#include "commands/open/OpenStepsFixture.h"
#include "intake/ParameterDownload.h"
#include "storage/ZipFiles.h"

namespace hopwell::testing {
namespace {

constexpr char kAddress[] = "http://127.0.0.1:18080/c";
constexpr char kFile[] = "http://127.0.0.1:18080/f/a.txt";
constexpr char kArchive[] = "http://127.0.0.1:18080/f/b.zip";

class StartingLauncher : public IAppLauncher {
 public:
  using IAppLauncher::IAppLauncher;
  InstallResult InstallPlugins() override { return InstallResult::Installed; }
  bool OpenDocument(const boost::filesystem::path&) override { return true; }
  bool IsApplicationRunning() override { return false; }
  bool IsAdditionalApplicationRunning() override { return false; }
  bool CreateShortcut(const boost::filesystem::path&, const boost::filesystem::path&) override {
    return false;
  }
};

// Every distinct progress value of the job, in order; one test thread at a time.
std::vector<double> g_progress;
void RecordProgress(JobStatus* job) {
  if (g_progress.empty() || g_progress.back() != job->GetProgress()) {
    g_progress.push_back(job->GetProgress());
  }
}

class OpenCmdProgressTest : public OpenStepsTest {};

// The fake server delivers each file in one report of its whole size. That first report
// starts the transfer clock, so its rate is bytes / 0.001 s and only a large remainder shows.
TEST_F(OpenCmdProgressTest, DownloadReportsFollowTheAnnouncedSize) {
  struct Case {
    std::string downloadSize;
    double progress;
    std::string message;  // the "Downloading" message, or empty for none
    std::string logLine;
  };
  const Case cases[] = {
      {"1000", 15, "Downloading 10 B of 1000 B, ",
       "    Downloaded 10 B of 1000 B (1%) in 0.001s, "},
      {"40", 33, "", "    Downloaded 10 B of 40 B (25%) in 0.001s, "},
      {"10", 90, "", "    Downloaded 10 B of 10 B (100%) in 0.001s, 0s remaining"},
      {"0", 15, "", "    Downloaded 10 B of 0 B (0%) in 0.001s, 0s remaining"},
      {"", 15, "", "    Downloaded 10 B of 0 B (0%) in 0.001s, 0s remaining"},
  };
  // The document comes in an archive announced without a size, so it reports nothing.
  WriteFile(dir_ / "doc.indd", "indd");
  ASSERT_TRUE(ZipFiles({dir_ / "doc.indd"}, {"doc.indd"}, dir_ / "b.zip", 0,
                       std::make_shared<JobStatus>(ActionKind::Upload, "", "")));
  const std::string archive = ReadFile(dir_ / "b.zip");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.downloadSize);
    LogCapture logs;
    http_.answers[OpenParametersUrl(kAddress)] = {
        HttpResult::Ok, 200,
        "<data><params><param name=\"IDS\" value=\"S\"/><param name=\"TPVID\" value=\"T" +
            c.downloadSize +
            "\"/><param name=\"readOnly\" value=\"true\"/>"
            "<param name=\"downloadsize\" value=\"" +
            c.downloadSize + "\"/></params><files><file><url>" + kFile +
            "</url><name>a.txt</name><size>10</size></file><file><url>" + kArchive +
            "</url><name>b.zip</name><decompress>1</decompress></file></files></data>"};
    http_.answers[kArchive] = {HttpResult::Ok, 200, archive};
    http_.answers[kFile] = {HttpResult::Ok, 200, "0123456789"};
    auto job = std::make_shared<JobStatus>(ActionKind::Download, "Opening...", "kelv:open:x");
    OpenCmd command(std::string(kAddress) + ":tok", job,
                    std::shared_ptr<IHttpHelper>(&http_, [](IHttpHelper*) {}),
                    [&](std::shared_ptr<AppCmdParameters> parameters, JobPtr forJob) {
                      return std::make_shared<StartingLauncher>(std::move(parameters),
                                                                std::move(forJob));
                    });
    g_progress.clear();
    job->SetOnChange(&RecordProgress);
    command.DoExecute();
    ASSERT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
    std::vector<double> expected = {0, 5, 8, 13, 15};
    if (c.progress != 15 && c.progress != 90) expected.push_back(c.progress);
    expected.insert(expected.end(), {90, 100});
    EXPECT_EQ(g_progress, expected);
    const auto messages = job->Messages();
    std::string downloading;
    for (const auto& message : messages) {
      if (message.rfind("Downloading ", 0) == 0 && message.find(" of ") != std::string::npos &&
          message.find("file") == std::string::npos) {
        downloading = message;
      }
    }
    if (c.message.empty()) {
      EXPECT_EQ(downloading, "");
    } else {
      EXPECT_EQ(downloading.rfind(c.message, 0), 0u) << downloading;
    }
    EXPECT_TRUE(logs.HasFragment("info", c.logLine));
  }
}

}  // namespace
}  // namespace hopwell::testing
