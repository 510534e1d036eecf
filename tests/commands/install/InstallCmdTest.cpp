#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "apps/IAppLauncher.h"
#include "base/FrontEnd.h"
#include "commands/install/InstallCmd.h"
#include "common/LogCapture.h"
#include "common/ScriptedHttpHelper.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// Records the dialogs the command opens.
class DialogRecorder final : public IFrontEnd {
 public:
  void JobAdded(JobStatus&) override {}
  void JobChanged(JobStatus&) override {}
  void ShowMessageDialog(const std::string& title, const std::string& text) override {
    dialogs.push_back("message|" + title + "|" + text);
  }
  void ShowApplicationMissing(const std::string& text) override {
    dialogs.push_back("missing|" + text);
  }
  void OpenUrl(const std::string&) override {}
  void ExploreFolder(const fs::path&) override {}
  bool ConfirmQuit() override { return false; }
  ProxyAnswer AskProxyCredentials(const std::string&, ProxyCredentials&) override {
    return ProxyAnswer::Cancelled;
  }
  std::vector<std::string> dialogs;
};

// A launcher whose plug-in installation gives a set result; with running flags it runs the
// real installation instead (which then stops before any download).
class FakeLauncher : public IAppLauncher {
 public:
  FakeLauncher(std::shared_ptr<AppCmdParameters> parameters, JobPtr job, int result,
               bool running = false, bool additionalRunning = false)
      : IAppLauncher(std::move(parameters), std::move(job)),
        result_(result),
        running_(running),
        additionalRunning_(additionalRunning) {}
  InstallResult InstallPlugins() override {
    if (result_ < 0) return IAppLauncher::InstallPlugins();
    return static_cast<InstallResult>(result_);
  }
  bool OpenDocument(const fs::path&) override { return false; }
  bool IsApplicationRunning() override { return running_; }
  bool IsAdditionalApplicationRunning() override { return additionalRunning_; }
  bool CreateShortcut(const fs::path&, const fs::path&) override { return false; }

 private:
  int result_;
  bool running_;
  bool additionalRunning_;
};

class InstallCmdTest : public ::testing::Test {
 protected:
  InstallCmdTest() { SetFrontEnd(recorder_); }
  ~InstallCmdTest() override { SetFrontEnd(nullptr); }

  // Runs the command on a document with these params, the launcher made by `launchers`.
  JobPtr Run(const std::string& params, AppLauncherFactory launchers,
             const std::string& argument = "http:%2F%2f127.0.0.1:18080%2Fparams") {
    return RunOn(200, "<data><params>" + params + "</params></data>", std::move(launchers),
                 argument);
  }
  // The same with the server's whole answer.
  JobPtr RunOn(long status, const std::string& body, AppLauncherFactory launchers,
               const std::string& argument = "http:%2F%2f127.0.0.1:18080%2Fparams") {
    auto http = std::make_shared<testing::ScriptedHttpHelper>();
    http->status = status;
    http->body = body;
    auto job = std::make_shared<JobStatus>(ActionKind::Install, "Installing...", "kelv:install");
    InstallCmd(argument, job, http, std::move(launchers)).DoExecute();
    sent_ = http->sent.size();
    return job;
  }
  static AppLauncherFactory Result(int result, bool running = false, bool additional = false) {
    return [=](std::shared_ptr<AppCmdParameters> parameters, JobPtr job) {
      return std::make_shared<FakeLauncher>(std::move(parameters), std::move(job), result, running,
                                            additional);
    };
  }

  std::shared_ptr<DialogRecorder> recorder_ = std::make_shared<DialogRecorder>();
  testing::LogCapture log_;
  std::size_t sent_ = 0;
};

const char* const kParams =
    "<param name=\"appname\" value=\"InDesign\"/><param name=\"appversion\" value=\"21.0\"/>"
    "<param name=\"additionalappname\" value=\"InCopy\"/>";

TEST_F(InstallCmdTest, ResultsEndTheJobWithTheirTextsAndDialogs) {
  struct Case {
    int result;
    JobState state;
    std::string message;  // also the error log line; empty for success
    std::string dialog;
  };
  const Case cases[] = {
      {0, JobState::Succeeded, "", ""},
      {7, JobState::Succeeded, "", ""},
      {1, JobState::Failed, "Unable to Locate InDesign",
       "missing|These plug-ins require InDesign (v 21), which is not installed.\n\nClick "
       "\"Help\" for instructions on how to install the correct version."},
      {2, JobState::Failed, "Download of plug-ins for InDesign failed.", ""},
      {3, JobState::Failed, "InDesign is running. Quit InDesign and install the plug-ins again.",
       "message|Kelvory Hopwell|InDesign (v 21) is running.\n\nQuit InDesign (v 21) and install "
       "the plug-ins again."},
      {4, JobState::Failed, "InCopy is running. Quit InCopy and install the plug-ins again.",
       "message|Kelvory Hopwell|InCopy (v 21) is running.\n\nQuit InCopy (v 21) and install the "
       "plug-ins again."},
  };
  for (const Case& c : cases) {
    recorder_->dialogs.clear();
    const JobPtr job = Run(kParams, Result(c.result));
    EXPECT_EQ(job->GetState(), c.state) << c.result;
    EXPECT_EQ(job->LastMessage(), c.message.empty() ? "Installing..." : c.message) << c.result;
    EXPECT_TRUE(c.message.empty() || log_.Has("error", c.message)) << c.result;
    EXPECT_EQ(recorder_->dialogs,
              c.dialog.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.dialog})
        << c.result;
    if (c.state == JobState::Succeeded) {
      EXPECT_EQ(job->DocumentName(), "http:%2F%2f127.0.0.1:18080%2Fparams");
    }
  }
  EXPECT_FALSE(log_.HasFragment("info", "JobFailed"));
}

TEST_F(InstallCmdTest, RunningApplicationsRefuseTheUpdateBeforeAnyDownload) {
  testing::TempDir dir;
  testing::ScopedEnv appData("APPDATA", (dir / "appdata").string());
  testing::WriteFile(dir / "InDesign.exe", "");
  const std::string params = std::string(kParams) + "<param name=\"appdefaultpath\" value=\"" +
                             (dir / "InDesign.exe").string() +
                             "\"/><param name=\"pluginversion\" value=\"2\"/>"
                             "<param name=\"pluginurl\" value=\"http://127.0.0.1:18080/p/2.zip\"/>";
  const std::pair<bool, bool> flags[] = {{true, false}, {false, true}, {true, true}};
  const JobState ends[] = {JobState::Failed, JobState::Failed, JobState::Failed};
  const char* names[] = {"InDesign is running.", "InCopy is running.", "InDesign is running."};
  for (int i = 0; i < 3; ++i) {
    const JobPtr job = Run(params, Result(-1, flags[i].first, flags[i].second));
    EXPECT_EQ(job->GetState(), ends[i]);
    EXPECT_EQ(job->LastMessage().rfind(names[i], 0), 0u) << job->LastMessage();
    EXPECT_EQ(sent_, 1u);  // the parameter document only
  }
  EXPECT_FALSE(fs::exists(dir / "appdata" / "Kelv" / "plug-ins" / "2.zip"));
  // No application: result 1 from the real installation.
  EXPECT_EQ(Run(kParams, Result(-1))->LastMessage(), "Unable to Locate InDesign");
}

TEST_F(InstallCmdTest, ArgumentDecodingAndInvalidArgument) {
  const std::pair<const char*, const char*> decoded[] = {
      {"%2F", "/"}, {"a%2fb%2Fc", "a/b/c"}, {"%2G%20", "%2G%20"}, {"", ""}};
  for (const auto& [argument, url] : decoded) {
    EXPECT_EQ(InstallCmd::DecodeParameterUrl(argument), url);
  }
  const JobPtr job = Run(kParams, Result(0), "");
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage(), "Invalid arguments: ");
  EXPECT_TRUE(log_.Has("warning", "  Invalid arguments: "));
  EXPECT_EQ(sent_, 0u);
}

// A server error is no missing application: the job ends with the download's error, and
// neither a launcher nor a dialog comes.
TEST_F(InstallCmdTest, ParameterServerErrorEndsTheJobWithoutDialog) {
  const struct {
    long status;
    const char* body;
    const char* message;
  } cases[] = {{404, "<html><body>Not Found</body></html>", "Error download parameter file (404)."},
               {500, "", "Error download parameter file (500)."},
               {200, "", "Error reading parameter file"}};
  for (const auto& c : cases) {
    recorder_->dialogs.clear();
    bool launched = false;
    const JobPtr job = RunOn(c.status, c.body, [&](auto parameters, auto job) {
      launched = true;
      return std::make_shared<FakeLauncher>(parameters, job, 1);
    });
    EXPECT_EQ(job->GetState(), JobState::Failed) << c.status;
    EXPECT_EQ(job->LastMessage(), c.message);
    EXPECT_FALSE(launched);
    EXPECT_TRUE(recorder_->dialogs.empty());
  }
}

TEST_F(InstallCmdTest, NoDialogWithoutApplicationRecord) {
  struct NoRecord : FakeLauncher {
    using FakeLauncher::FakeLauncher;
    EditApplicationPtr EditApplication() override { return nullptr; }
  };
  const JobPtr job = Run(kParams, [](auto parameters, auto job) {
    return std::make_shared<NoRecord>(parameters, job, 3);
  });
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_TRUE(recorder_->dialogs.empty());
}

}  // namespace
}  // namespace hopwell
