#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/detail/xml_parser_utils.hpp>

#include "apps/IAppLauncher.h"
#include "base/FrontEnd.h"
#include "commands/install/InstallCmd.h"
#include "commands/install/InstallerTestSupport.h"
#include "commands/install/PackageLock.h"
#include "commands/install/PluginInstallerCmd.h"
#include "common/LogCapture.h"
#include "common/ScriptedHttpHelper.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using namespace std::chrono_literals;

// Records the dialogs the command opens.
class DialogRecorder final : public SilentFrontEnd {
 public:
  void ShowMessageDialog(const std::string& title, const std::string& text) override {
    dialogs.push_back("message|" + title + "|" + text);
  }
  void ShowApplicationMissing(const std::string& text) override {
    dialogs.push_back("missing|" + text);
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

// One fixture for the command with a scripted parameter server. Every test has its own
// APPDATA: the real installation (a FakeLauncher made with result -1) keeps its packages,
// versions files and settings roots there, and the application is dir_/app/InDesign.exe.
class InstallCmdTest : public ::testing::Test {
 protected:
  InstallCmdTest() {
    SetFrontEnd(recorder_);
    testing::WriteFile(App(), "");
  }
  ~InstallCmdTest() override { SetFrontEnd(nullptr); }

  // Runs the command on a document with these params, the launcher made by `launchers`; the
  // parameter download ends with `fetch`.
  JobPtr Run(const std::string& params, AppLauncherFactory launchers,
             const std::string& argument = "http:%2F%2f127.0.0.1:18080%2Fparams",
             HttpResult fetch = HttpResult::Ok) {
    return RunOn(200, "<data><params>" + params + "</params></data>", std::move(launchers),
                 argument, fetch);
  }
  // The same with the server's whole answer.
  JobPtr RunOn(long status, const std::string& body, AppLauncherFactory launchers,
               const std::string& argument = "http:%2F%2f127.0.0.1:18080%2Fparams",
               HttpResult fetch = HttpResult::Ok) {
    auto http = std::make_shared<testing::ScriptedHttpHelper>();
    http->status = status;
    http->body = body;
    http->result = fetch;
    http->errorText = "Couldn't connect to server";
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

  static std::string Param(const std::string& name, const std::string& value) {
    return "<param name=\"" + name + "\" value=\"" +
           boost::property_tree::xml_parser::encode_char_entities(value) + "\"/>";
  }
  fs::path App() const { return dir_ / "app" / "InDesign.exe"; }
  fs::path PackageFolder() const { return dir_ / "appdata" / "Kelv" / "plug-ins"; }
  // Keeps the package of a plug-in version in the package folder, as an earlier download
  // left it, so that the real installation needs no network.
  void Keep(const std::string& version) {
    const std::string bytes = testing::MakePackage(dir_, version);
    testing::WriteFile(PackageFolder() / (version + ".zip"), bytes);
    crcs_[version] = testing::HexCrc(bytes, dir_);
  }
  // A document that installs plug-in version `version` from the kept package `package` (the
  // version's own by default) into application version appVersion; url replaces the
  // package's address.
  std::string Installing(const std::string& appVersion, const std::string& version,
                         std::string package = {}, std::string url = {}) {
    if (package.empty()) package = version;
    if (url.empty()) url = "http://127.0.0.1:18080/p/" + package + ".zip";
    return Param("appname", "InDesign") + Param("additionalappname", "InCopy") +
           Param("appversion", appVersion) + Param("appdefaultpath", App().string()) +
           Param("pluginversion", version) + Param("pluginurl", url) +
           Param("plugincrc", crcs_[package]);
  }
  // The folders that the "=Path" section of an application version's PluginConfig.txt names.
  std::vector<fs::path> Registered(const std::string& appVersion) const {
    const fs::path file = dir_ / "appdata" / "Adobe" / "InDesign" / ("Version " + appVersion) /
                          "en_US" / "PluginConfig.txt";
    std::istringstream lines(testing::ReadFile(file));
    std::vector<fs::path> folders;
    bool paths = false;
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line.front() == '=') {
        paths = line == "=Path";
      } else if (paths && line.size() >= 2) {
        folders.emplace_back(line.substr(1, line.size() - 2));
      }
    }
    return folders;
  }
  static bool HasEntries(const fs::path& folder) {
    boost::system::error_code error;
    return fs::directory_iterator(folder, error) != fs::directory_iterator();
  }
  // Whether a record logged since `mark` (a count of records) holds text.
  bool LoggedSince(std::size_t mark, const std::string& severity, const std::string& text) const {
    const auto records = log_.Records();
    for (std::size_t i = mark; i < records.size(); ++i) {
      if ((severity.empty() || records[i].severity == severity) &&
          records[i].message.find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

  testing::TempDir dir_;
  testing::ScopedEnv appData_{"APPDATA", (dir_ / "appdata").string()};
  std::map<std::string, std::string> crcs_;
  std::shared_ptr<DialogRecorder> recorder_ = std::make_shared<DialogRecorder>();
  testing::LogCapture log_;
  std::size_t sent_ = 0;
};

const char* const kParams =
    "<param name=\"appname\" value=\"InDesign\"/><param name=\"appversion\" value=\"21.0\"/>"
    "<param name=\"additionalappname\" value=\"InCopy\"/>";

TEST_F(InstallCmdTest, ResultsEndTheJobWithTheirTextsAndDialogs) {
  const std::string noAdditional = Param("appname", "InDesign") + Param("appversion", "21.0");
  const std::string noVersion = Param("appname", "InDesign") + Param("additionalappname", "InCopy");
  struct Case {
    int result;
    std::string params;
    JobState state;
    std::string message;  // also the error log line; empty for success
    std::string dialog;
  };
  const Case cases[] = {
      {0, kParams, JobState::Succeeded, "", ""},
      {7, kParams, JobState::Succeeded, "", ""},
      {1, kParams, JobState::Failed, "Unable to Locate InDesign",
       "missing|These plug-ins require InDesign (v 21), which is not installed.\n\nClick "
       "\"Help\" for instructions on how to install the correct version."},
      {2, kParams, JobState::Failed, "Download of plug-ins for InDesign failed.", ""},
      {3, kParams, JobState::Failed,
       "InDesign is running. Quit InDesign and install the plug-ins again.",
       "message|Kelvory Hopwell|InDesign (v 21) is running.\n\nQuit InDesign (v 21) and install "
       "the plug-ins again."},
      {4, kParams, JobState::Failed,
       "InCopy is running. Quit InCopy and install the plug-ins again.",
       "message|Kelvory Hopwell|InCopy (v 21) is running.\n\nQuit InCopy (v 21) and install the "
       "plug-ins again."},
      // Display names with a missing "additionalappname" or "appversion".
      {4, noAdditional, JobState::Failed, " is running. Quit  and install the plug-ins again.",
       "message|Kelvory Hopwell| (v 21) is running.\n\nQuit  (v 21) and install the plug-ins "
       "again."},
      {3, noVersion, JobState::Failed,
       "InDesign is running. Quit InDesign and install the plug-ins again.",
       "message|Kelvory Hopwell|InDesign (v ) is running.\n\nQuit InDesign (v ) and install the "
       "plug-ins again."},
      {1, noVersion, JobState::Failed, "Unable to Locate InDesign",
       "missing|These plug-ins require InDesign (v ), which is not installed.\n\nClick "
       "\"Help\" for instructions on how to install the correct version."},
  };
  for (const Case& c : cases) {
    recorder_->dialogs.clear();
    const JobPtr job = Run(c.params, Result(c.result));
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
  // The failures set the state directly: no "JobFailed" line at any level.
  EXPECT_FALSE(LoggedSince(0, "", "JobFailed"));
}

TEST_F(InstallCmdTest, FailedParameterFetchEndsTheJobBeforeAnyInstallation) {
  bool launcherMade = false;
  const JobPtr job = Run(
      kParams,
      [&](auto parameters, auto job) {
        launcherMade = true;
        return std::make_shared<FakeLauncher>(parameters, job, 0);
      },
      "http:%2F%2F127.0.0.1:18080%2Fparams", HttpResult::SendFailed);
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage(), "Error downloading parameter file (Couldn't connect to server)");
  EXPECT_TRUE(log_.Has("warning",
                       "  JobFailed Error downloading parameter file (Couldn't "
                       "connect to server)"));
  EXPECT_FALSE(launcherMade);
  EXPECT_TRUE(recorder_->dialogs.empty());
}

TEST_F(InstallCmdTest, OnlyRefusedNamesComeBeforeTheRunningCheck) {
  // The installer's own files in the package folder, which no package may replace.
  testing::WriteFile(PackageFolder() / "install.lock", "kept");
  testing::WriteFile(PackageFolder() / "21.0-Version.txt", "0.9");
  const std::string refused = "Download of plug-ins for InDesign failed.";
  const std::string running = "InDesign is running. Quit InDesign and install the plug-ins again.";
  struct Case {
    std::string url;
    bool running;
    bool additionalRunning;
    std::string message;
    std::string log;  // logged at error, or at info for the update check
  };
  const Case cases[] = {
      // An unparseable "pluginurl" is no refusal: the running application is told first.
      {"none", true, false, running, "Checking if plug-ins need to be installed"},
      {"http://127.0.0.1:18080/p/abc", false, true,
       "InCopy is running. Quit InCopy and install the plug-ins again.",
       "Checking if plug-ins need to be installed"},
      {"none", false, false, refused, "Couldn't parse none for the package name"},
      // Names that would replace the installer's own files, or leave the package folder.
      {"http://127.0.0.1:18080/p/install.lock", true, false, refused,
       "Refused package name install.lock"},
      {"http://127.0.0.1:18080/p/21.0-Version.txt", true, true, refused,
       "Refused package name 21.0-Version.txt"},
      {"http://127.0.0.1:18080/p/20.0-Version.txt.zip", false, false, refused,
       "Refused package name 20.0-Version.txt.zip"},
      {"http://127.0.0.1:18080/p/1.0.lock.zip", false, false, refused,
       "Refused package name 1.0.lock.zip"},
      {"http://127.0.0.1:18080/p/1.0.unpacking.zip", false, false, refused,
       "Refused package name 1.0.unpacking.zip"},
      {"http://127.0.0.1:18080/p/...zip", true, false, refused, "Refused package name ...zip"},
  };
  for (const Case& c : cases) {
    const std::size_t mark = log_.Records().size();
    const JobPtr job =
        Run(Installing("21.0", "1.0", "", c.url), Result(-1, c.running, c.additionalRunning));
    EXPECT_EQ(job->GetState(), JobState::Failed) << c.url;
    EXPECT_EQ(job->LastMessage(), c.message) << c.url;
    EXPECT_TRUE(LoggedSince(mark, "", c.log)) << c.url;
    EXPECT_EQ(LoggedSince(mark, "info", "Checking if plug-ins need to be installed"),
              c.log.rfind("Refused", 0) != 0)
        << c.url;
  }
  EXPECT_EQ(testing::ReadFile(PackageFolder() / "install.lock"), "kept");
  EXPECT_EQ(testing::ReadFile(PackageFolder() / "21.0-Version.txt"), "0.9");
  EXPECT_EQ(sent_, 1u);  // the parameter document only
}

TEST_F(InstallCmdTest, TwoApplicationVersionsMovingOneAfterTheOtherKeepEveryRegisteredFolder) {
  Keep("1.0");
  Keep("2.0");
  const std::pair<const char*, const char*> steps[] = {
      {"20.0", "1.0"}, {"21.0", "1.0"}, {"21.0", "2.0"}, {"20.0", "1.0"}, {"20.0", "2.0"}};
  for (const auto& [appVersion, version] : steps) {
    const std::string step = std::string(appVersion) + " to " + version;
    EXPECT_EQ(Run(Installing(appVersion, version), Result(-1))->GetState(), JobState::Succeeded)
        << step;
    EXPECT_EQ(Registered(appVersion), std::vector<fs::path>{PackageFolder() / version / "x64"})
        << step;
    for (const char* other : {"20.0", "21.0"}) {
      for (const fs::path& folder : Registered(other)) {
        EXPECT_TRUE(HasEntries(folder)) << step << ": " << folder;
      }
    }
  }
  // Named by no versions file any more: gone; its package stays.
  EXPECT_FALSE(fs::exists(PackageFolder() / "1.0"));
  EXPECT_TRUE(fs::exists(PackageFolder() / "1.0.zip"));
  EXPECT_TRUE(log_.HasFragment("debug", " for other application versions"));
}

TEST_F(InstallCmdTest, CurrentInstallationRestoresItsFolderFromTheKeptPackage) {
  Keep("1.0");
  const std::pair<const char*, std::function<void(const fs::path&)>> damages[] = {
      {"removed", [](const fs::path& folder) { fs::remove_all(folder); }},
      {"emptied",
       [](const fs::path& folder) {
         fs::remove_all(folder);
         fs::create_directory(folder);
       }},
      {"sub-folder removed", [](const fs::path& folder) { fs::remove_all(folder / "x64"); }},
      {"file cut short",
       [](const fs::path& folder) { testing::WriteFile(folder / "x64" / "Kelv.pln", "x"); }},
  };
  ASSERT_EQ(Run(Installing("20.0", "1.0"), Result(-1))->GetState(), JobState::Succeeded);
  for (const auto& [name, damage] : damages) {
    damage(PackageFolder() / "1.0");
    // Even while the application runs: nothing is replaced under it, the folder is missing.
    EXPECT_EQ(Run(Installing("20.0", "1.0"), Result(-1, true))->GetState(), JobState::Succeeded)
        << name;
    EXPECT_EQ(testing::ReadFile(PackageFolder() / "1.0" / "x64" / "Kelv.pln"), "x64/Kelv.pln 1.0")
        << name;
    EXPECT_EQ(Registered("20.0"), std::vector<fs::path>{PackageFolder() / "1.0" / "x64"}) << name;
  }
  EXPECT_TRUE(log_.HasFragment("warning", " lacks x64/Kelv.pln; extracting "));
  EXPECT_EQ(sent_, 1u);
}

TEST_F(InstallCmdTest, EmptyPluginVersionIsRecorded) {
  Keep("1.0");
  for (const char* before : {"", "1.0"}) {
    fs::remove(PackageFolder() / "21.0-Version.txt");
    if (*before != '\0') testing::WriteFile(PackageFolder() / "21.0-Version.txt", before);
    EXPECT_EQ(Run(Installing("21.0", "", "1.0"), Result(-1))->GetState(), JobState::Succeeded)
        << before;
    ASSERT_TRUE(fs::is_regular_file(PackageFolder() / "21.0-Version.txt")) << before;
    EXPECT_EQ(fs::file_size(PackageFolder() / "21.0-Version.txt"), 0u) << before;
  }
}

TEST_F(InstallCmdTest, FileSystemErrorsEndWithTheOutcomeOfTheirStep) {
  Keep("1.0");
  const fs::path oldPlugins = dir_ / "app" / "Plug-Ins" / "Kelv Publishing";
  testing::WriteFile(oldPlugins / "Old.pln", "");
  fs::create_symlink("loop", oldPlugins / "loop");  // a link to itself
  testing::WriteFile(PackageFolder() / "21.0-Version.txt", "1.0");
  const std::string longName = std::string(300, 'I') + " InDesign";
  const std::string located = "Unable to Locate " + longName;
  struct Case {
    const char* name;
    std::string params;
    JobState state;
    std::string message;
  };
  const Case cases[] = {
      // Its shortcut name is too long for the file system: no such application.
      {"long application name",
       Param("appname", longName) + Param("appversion", "21.0") +
           Param("appdefaultpath", (dir_ / "nowhere").string()),
       JobState::Failed, located},
      {"long package name while current",
       Installing("21.0", "1.0", "", "http://127.0.0.1:18080/p/" + std::string(300, 'p') + ".zip"),
       JobState::Failed, "Download of plug-ins for InDesign failed."},
      // The old plug-in folder's walk meets a link loop: deployment goes on.
      {"looping link among the old plug-ins", Installing("21.0", "1.0"), JobState::Succeeded,
       "Installing..."},
  };
  for (const Case& c : cases) {
    recorder_->dialogs.clear();
    const JobPtr job = Run(c.params, Result(-1));
    EXPECT_EQ(job->GetState(), c.state) << c.name;
    EXPECT_EQ(job->LastMessage(), c.message) << c.name;
    EXPECT_EQ(recorder_->dialogs.size(), c.message == located ? 1u : 0u) << c.name;
  }
  const std::string config = testing::ReadFile(dir_ / "appdata" / "Adobe" / "InCopy" /
                                               "Version 21.0" / "en_US" / "PluginConfig.txt");
  EXPECT_NE(config.find("=Exclude\r\n\"" + (oldPlugins / "Old.pln").string() + "\"\r\n"),
            std::string::npos)
      << config;
  EXPECT_FALSE(LoggedSince(0, "", "Installation failed"));
}

TEST_F(InstallCmdTest, AnInstallationWaitsOnlyForAnotherOfTheSamePackage) {
  Keep("1.0");
  Keep("2.0");
  // Another installation of package 1.0 (another client, say) holds its folder's lock.
  auto holder = std::make_unique<PackageLock>(PluginInstallerCmd::LockFilePath("1.0"), false);
  ASSERT_TRUE(holder->Held());
  const auto waiting =
      std::make_shared<JobStatus>(ActionKind::Install, "Installing...", "kelv:install");
  auto http = std::make_shared<testing::ScriptedHttpHelper>();
  http->body = "<data><params>" + Installing("20.0", "1.0") + "</params></data>";
  const std::string second = Installing("21.0", "2.0");
  std::thread first([&] {
    InstallCmd("http:%2F%2F127.0.0.1:18080%2Fparams", waiting, http, Result(-1)).DoExecute();
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (waiting->LastMessage() != "Waiting for another installation of the plug-ins..." &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  // Meanwhile an installation of another package goes through.
  EXPECT_EQ(Run(second, Result(-1))->GetState(), JobState::Succeeded);
  EXPECT_EQ(waiting->GetState(), JobState::Running);
  EXPECT_EQ(waiting->LastMessage(), "Waiting for another installation of the plug-ins...");
  holder.reset();  // the holder ends
  first.join();
  EXPECT_EQ(waiting->GetState(), JobState::Succeeded);
  EXPECT_EQ(Registered("20.0"), std::vector<fs::path>{PackageFolder() / "1.0" / "x64"});
}

TEST_F(InstallCmdTest, RunningApplicationsRefuseTheUpdateBeforeAnyDownload) {
  const std::string params = std::string(kParams) + Param("appdefaultpath", App().string()) +
                             Param("pluginversion", "2") +
                             Param("pluginurl", "http://127.0.0.1:18080/p/2.zip");
  const std::pair<bool, bool> flags[] = {{true, false}, {false, true}, {true, true}};
  const char* names[] = {"InDesign is running.", "InCopy is running.", "InDesign is running."};
  for (int i = 0; i < 3; ++i) {
    const JobPtr job = Run(params, Result(-1, flags[i].first, flags[i].second));
    EXPECT_EQ(job->GetState(), JobState::Failed);
    EXPECT_EQ(job->LastMessage().rfind(names[i], 0), 0u) << job->LastMessage();
    EXPECT_EQ(sent_, 1u);  // the parameter document only
  }
  EXPECT_FALSE(fs::exists(PackageFolder() / "2.zip"));
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
