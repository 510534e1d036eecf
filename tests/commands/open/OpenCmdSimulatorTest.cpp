#include "commands/open/OpenCmd.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "base/FrontEnd.h"
#include "common/LogCapture.h"
#include "common/SimulatorTest.h"
#include "common/TempDir.h"
#include "storage/KelvDB.h"
#include "storage/LocalFolders.h"

namespace hopwell::testing {
namespace {

namespace fs = boost::filesystem;

constexpr char kToken[] = "tok-1";

// What the fake launcher does and what it was asked.
struct LauncherScript {
  InstallResult install = InstallResult::Installed;
  bool hasRecord = true;
  bool starts = true;
  std::optional<std::string> throws;
  std::vector<fs::path> opened;
  std::vector<std::string> missingTexts;
};

class FakeLauncher : public IAppLauncher {
 public:
  FakeLauncher(std::shared_ptr<AppCmdParameters> parameters, JobPtr job, LauncherScript& script)
      : IAppLauncher(std::move(parameters), std::move(job)), script_(script) {}
  InstallResult InstallPlugins() override { return script_.install; }
  bool OpenDocument(const fs::path& document) override {
    script_.opened.push_back(document);
    if (script_.throws) throw *script_.throws;
    return script_.starts;
  }
  void ShowApplicationMissing(const std::string& text) override {
    script_.missingTexts.push_back(text);
  }
  EditApplicationPtr EditApplication() override {
    return script_.hasRecord ? std::make_shared<IEditApplication>(parameters_) : nullptr;
  }
  bool IsApplicationRunning() override { return false; }
  bool IsAdditionalApplicationRunning() override { return false; }
  bool CreateShortcut(const fs::path&, const fs::path&) override { return false; }

 private:
  LauncherScript& script_;
};

class DialogRecorder : public SilentFrontEnd {
 public:
  void ShowMessageDialog(const std::string& title, const std::string& text) override {
    std::lock_guard<std::mutex> guard(lock);
    dialogs.push_back(title + "|" + text);
  }
  bool ConfirmQuit() override { return true; }
  std::mutex lock;
  std::vector<std::string> dialogs;
};

// Progress values and captions of the watched job, each change once.
struct JobTrail {
  std::mutex lock;
  const JobStatus* job = nullptr;
  std::vector<double> progress;
  std::vector<std::string> captions;
};
JobTrail g_trail;

void RecordChange(JobStatus* job) {
  std::lock_guard<std::mutex> guard(g_trail.lock);
  if (job != g_trail.job) return;
  const double progress = job->GetProgress();
  if (g_trail.progress.empty() || g_trail.progress.back() != progress) {
    g_trail.progress.push_back(progress);
  }
  const std::string caption = job->Caption();
  if (g_trail.captions.empty() || g_trail.captions.back() != caption) {
    g_trail.captions.push_back(caption);
  }
}

class OpenCmdSimulatorTest : public SimulatorTest {
 protected:
  OpenCmdSimulatorTest()
      : tmp_("TMPDIR", (dir_ / "tmp").string()),
        appData_("APPDATA", (dir_ / "appdata").string()),
        frontEnd_(std::make_shared<DialogRecorder>()) {
    SetFrontEnd(frontEnd_);
  }
  ~OpenCmdSimulatorTest() override { SetFrontEnd(nullptr); }

  void Set(const std::string& json) { ASSERT_TRUE(sim_->SetParameters(json)); }
  void Chapter(const std::string& json) { ASSERT_TRUE(sim_->Control("/_sim/chapter", &json)); }

  std::string Argument(const std::string& chapter = "") const {
    std::string address = sim_->HttpBase();
    if (!chapter.empty()) address += "/chapters/" + chapter;
    return address + ":" + kToken;
  }

  JobPtr Run(const std::string& argument, LauncherScript& script) {
    auto job = std::make_shared<JobStatus>(ActionKind::Download, "Opening...", "kelv:open:x");
    auto command = std::make_shared<OpenCmd>(
        argument, job, CreateHttpHelper(),
        [&script](std::shared_ptr<AppCmdParameters> parameters, JobPtr forJob) {
          return std::make_shared<FakeLauncher>(std::move(parameters), std::move(forJob), script);
        });
    command->DoExecute();
    return job;
  }

  std::size_t CountRequests(const std::string& fragment) const {
    std::size_t count = 0;
    for (const auto& request : sim_->Requests()) {
      if (request.path.find(fragment) != std::string::npos) ++count;
    }
    return count;
  }

  fs::path ChapterFolder(const std::string& chapter = "tpv-1") const {
    return TempRoot() / "space-1" / chapter;
  }

  TempDir dir_;
  ScopedEnv tmp_;
  ScopedEnv appData_;
  std::shared_ptr<DialogRecorder> frontEnd_;
};

TEST_F(OpenCmdSimulatorTest, FullOpenLocksDownloadsRecordsAndLaunches) {
  for (const std::string version : {"20.0", "21.0"}) {
    SCOPED_TRACE(version);
    ASSERT_TRUE(sim_->Reset());
    fs::remove_all(dir_.path());
    Set(R"({"kind":"open","set":{"appversion":")" + version + R"("}})");
    LauncherScript script;
    auto job = std::make_shared<JobStatus>(ActionKind::Download, "Opening...", "kelv:open:x");
    {
      std::lock_guard<std::mutex> guard(g_trail.lock);
      g_trail.progress.clear();
      g_trail.captions.clear();
      g_trail.job = job.get();
    }
    job->SetOnChange(&RecordChange);
    OpenCmd command(Argument(), job, CreateHttpHelper(),
                    [&script](std::shared_ptr<AppCmdParameters> parameters, JobPtr forJob) {
                      return std::make_shared<FakeLauncher>(std::move(parameters),
                                                            std::move(forJob), script);
                    });
    command.DoExecute();

    ASSERT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
    const bool recent = version == "21.0";
    const fs::path document =
        ChapterFolder() / (recent ? "Chapter tpv-1_v3.indd" : "ChapterXtpvX1_v3.indd");
    ASSERT_EQ(script.opened, std::vector<fs::path>{document});
    EXPECT_TRUE(fs::exists(document));
    EXPECT_TRUE(fs::exists(ChapterFolder() / "notes.txt"));
    EXPECT_TRUE(fs::exists(ChapterFolder() / "photo0.jpg"));
    EXPECT_EQ(job->DocumentName(), "Chapter tpv-1");
    EXPECT_EQ(job->LastMessage(), "Launching " + document.string());
    EXPECT_EQ(job->ApplicationName(), "Adobe InDesign 2026");  // named in the job-end notice

    EXPECT_EQ(fs::exists(ChapterFolder() / "CurrentDocumentDB.xml"), recent);
    KelvDB table;
    EXPECT_EQ(table.load(CurrentDocumentsDbPath()), !recent);
    if (!recent) {
      EXPECT_EQ(table.getCellByName("token", 0), kToken);
    }

    std::string locks;
    ASSERT_TRUE(sim_->Control("/_sim/chapter/locks", nullptr, &locks));
    EXPECT_NE(locks.find(R"("holders": {"tpv-1": "tok-1"})"), std::string::npos) << locks;
    EXPECT_EQ(CountRequests("/unlock/"), 0u);
    for (const auto& request : sim_->Requests()) {
      EXPECT_EQ(request.Header("X-API-Token"), kToken) << request.path;
    }

    std::lock_guard<std::mutex> guard(g_trail.lock);
    ASSERT_GE(g_trail.progress.size(), 6u);
    EXPECT_EQ(std::vector<double>(g_trail.progress.begin(), g_trail.progress.begin() + 5),
              (std::vector<double>{0, 5, 8, 13, 15}));
    EXPECT_EQ(g_trail.progress[g_trail.progress.size() - 2], 90);
    EXPECT_EQ(g_trail.progress.back(), 100);
    EXPECT_EQ(g_trail.captions, (std::vector<std::string>{"Opening...", "Updating plug-ins...",
                                                          "Opening Chapter tpv-1..."}));
    g_trail.job = nullptr;
  }
}

TEST_F(OpenCmdSimulatorTest, EveryFailureAfterTheLockUnlocksOnce) {
  const std::string archive = "/api/v2/ext/chapter/tpv-1/files/chapter.zip";
  struct Case {
    std::string name;
    std::string scenario;  // rule for the archive, or empty
    std::string version;
    bool tableBlocked;
    bool starts;
    std::optional<std::string> throws;
    std::string message;
  };
  const Case cases[] = {
      {"404",
       R"({"mode":"404","path":")" + archive + R"("})",
       "21.0",
       false,
       true,
       {},
       "Failed to download chapter.zip (HTTP 404)"},
      {"truncated",
       R"({"mode":"truncate","path":")" + archive + R"("})",
       "21.0",
       false,
       true,
       {},
       ""},
      {"record",
       "",
       "20.0",
       true,
       true,
       {},
       "An error occured when saving document meta information."},
      {"no document",
       "",
       "21.0",
       false,
       true,
       {},
       "The chapter's files hold no InDesign document."},
      {"launch", "", "21.0", false, false, {}, "An error occurred when launching the application"},
      {"throws", "", "21.0", false, true, std::string("No application for this document"),
       "No application for this document"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(sim_->Reset());
    fs::remove_all(dir_.path());
    Set(R"({"kind":"open","set":{"appversion":")" + c.version + R"("}})");
    if (!c.scenario.empty()) {
      ASSERT_TRUE(sim_->AddScenario(c.scenario));
    }
    if (c.tableBlocked) WriteFile(CurrentDocumentsDbPath() / "blocked", "x");
    if (c.name == "no document") Chapter(R"({"indd_name":"chapter.idml"})");
    LauncherScript script;
    script.starts = c.starts;
    script.throws = c.throws;
    const JobPtr job = Run(Argument(), script);
    EXPECT_EQ(job->GetState(), JobState::Failed);
    if (!c.message.empty()) {
      EXPECT_EQ(job->LastMessage(), c.message);
    }
    EXPECT_EQ(CountRequests("/lock/"), 1u);
    EXPECT_EQ(CountRequests("/unlock/"), 1u);
  }
}

TEST_F(OpenCmdSimulatorTest, LockAnswersAndReadOnlyOpens) {
  struct Case {
    std::string readOnly;  // "-" for a document without the key
    std::string lockBody;  // empty: the simulator's own answer
    std::size_t locks;
    JobState state;
    std::string message;
  };
  const Case cases[] = {
      {"false", "1\nChapter is being edited by Anna\n", 1, JobState::Failed,
       "Failed to lock document for edit: Chapter is being edited by Anna"},
      {"false", "1\r\nChapter is being edited by Anna\r\n", 1, JobState::Failed,
       "Failed to lock document for edit: Chapter is being edited by Anna\r"},
      {"false", "0", 1, JobState::Succeeded, ""},
      {"yes", "", 1, JobState::Succeeded, ""},
      {"TRUE", "", 0, JobState::Succeeded, ""},
      {"", "", 0, JobState::Succeeded, ""},
      {"-", "", 0, JobState::Succeeded, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.readOnly + " " + c.lockBody);
    ASSERT_TRUE(sim_->Reset());
    fs::remove_all(dir_.path());
    Set(c.readOnly == "-" ? R"({"kind":"open","remove":["readOnly"]})"
                          : R"({"kind":"open","set":{"readOnly":")" + c.readOnly + R"("}})");
    if (!c.lockBody.empty()) {
      std::string escaped;
      for (char ch : c.lockBody)
        escaped += ch == '\n' ? "\\n" : ch == '\r' ? "\\r" : std::string(1, ch);
      Chapter(R"({"lock_body":")" + escaped + R"("})");
    }
    LauncherScript script;
    const JobPtr job = Run(Argument(), script);
    EXPECT_EQ(job->GetState(), c.state) << job->LastMessage();
    if (!c.message.empty()) {
      EXPECT_EQ(job->LastMessage(), c.message);
    }
    EXPECT_EQ(CountRequests("/lock/"), c.locks);
    EXPECT_EQ(CountRequests("/files/"), c.state == JobState::Succeeded ? 2u : 0u);
  }
  // A read-only open that fails later releases no lock it never took.
  ASSERT_TRUE(sim_->Reset());
  Set(R"({"kind":"open","set":{"readOnly":"true"}})");
  ASSERT_TRUE(
      sim_->AddScenario(R"({"mode":"404","path_prefix":"/api/v2/ext/chapter/tpv-1/files/"})"));
  LauncherScript script;
  EXPECT_EQ(Run(Argument(), script)->GetState(), JobState::Failed);
  EXPECT_EQ(CountRequests("/unlock/"), 0u);
}

TEST_F(OpenCmdSimulatorTest, PluginCheckFailuresStopBeforeTheLock) {
  struct Case {
    InstallResult result;
    bool hasRecord;
    std::string message;
    std::string missingDialog;
    std::string messageDialog;
  };
  const std::string running =
      "Kelvory Hopwell|Our plug-ins have been updated, but cannot be installed while %1% is "
      "running.\n\nTo update the plug-ins, quit %1% and download the document again.";
  auto fill = [](std::string text, const std::string& name) {
    for (auto at = text.find("%1%"); at != std::string::npos; at = text.find("%1%")) {
      text.replace(at, 3, name);
    }
    return text;
  };
  const Case cases[] = {
      {InstallResult::ApplicationNotFound, true, "Unable to locate Adobe InDesign 2026.",
       "The document cannot be opened.\n\nThis document requires Adobe InDesign 2026 (v 21), which "
       "cannot be located. Please click \"Help\" for instructions on how to install the correct "
       "version.",
       ""},
      {InstallResult::PackageUnavailable, true,
       "Download of plug-ins for Adobe InDesign 2026 failed.", "", ""},
      {InstallResult::ApplicationRunning, true,
       "Our plug-ins have been updated. Quit Adobe InDesign 2026 and download the document again.",
       "", fill(running, "Adobe InDesign 2026 (v 21)")},
      {InstallResult::ApplicationRunning, false,
       "Our plug-ins have been updated. Quit Adobe InDesign 2026 and download the document again.",
       "", ""},
      {InstallResult::AdditionalApplicationRunning, true,
       "Adobe InCopy 2026 is running. Quit Adobe InCopy 2026 and install the plug-ins again.", "",
       fill(running, "Adobe InCopy 2026 (v 21)")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ASSERT_TRUE(sim_->Reset());
    frontEnd_->dialogs.clear();
    LauncherScript script;
    script.install = c.result;
    script.hasRecord = c.hasRecord;
    const JobPtr job = Run(Argument(), script);
    EXPECT_EQ(job->GetState(), JobState::Failed);
    EXPECT_EQ(job->Messages(), (std::vector<std::string>{"Downloading parameters...", c.message}));
    EXPECT_EQ(script.missingTexts, c.missingDialog.empty()
                                       ? std::vector<std::string>{}
                                       : std::vector<std::string>{c.missingDialog});
    EXPECT_EQ(frontEnd_->dialogs, c.messageDialog.empty()
                                      ? std::vector<std::string>{}
                                      : std::vector<std::string>{c.messageDialog});
    EXPECT_EQ(CountRequests("/lock/"), 0u);
    EXPECT_EQ(CountRequests("/unlock/"), 0u);
  }
}

TEST_F(OpenCmdSimulatorTest, UnreadableParameterDocumentFailsBeforeAnythingElse) {
  Set(R"({"kind":"open","raw":"<html>Service unavailable"})");
  LauncherScript script;
  const JobPtr job = Run(Argument(), script);
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage(), "Error reading parameter file");
  EXPECT_EQ(sim_->Requests().size(), 1u);
}

TEST_F(OpenCmdSimulatorTest, TwentyOpensAtOnceKeepEveryRow) {
  constexpr int kOpens = 20;
  Set(R"({"kind":"open","set":{"appversion":"20.0"}})");
  std::vector<LauncherScript> scripts(kOpens);
  std::vector<JobPtr> jobs(kOpens);
  std::vector<std::thread> threads;
  for (int i = 0; i < kOpens; ++i) {
    threads.emplace_back([&, i] { jobs[i] = Run(Argument("c" + std::to_string(i)), scripts[i]); });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& job : jobs)
    EXPECT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
  KelvDB table;
  ASSERT_TRUE(table.load(CurrentDocumentsDbPath()));
  EXPECT_EQ(table.getRowCount(), kOpens);
}

}  // namespace
}  // namespace hopwell::testing

namespace hopwell::testing {
namespace {

// The whole road with this platform's launcher: the stand-in editing application that the
// parameter document names is started on the renamed document.
TEST_F(OpenCmdSimulatorTest, StandInApplicationStartsOnTheDocument) {
  const fs::path standIn = SimulatorProcess::BinaryDir() / "tools" / "standin" / "InDesign.exe";
  ASSERT_TRUE(fs::exists(standIn)) << standIn;
  const fs::path record = dir_ / "standin.log";
  ScopedEnv recordEnv("HOPWELL_STANDIN_RECORD", record.string());
  auto job = std::make_shared<JobStatus>(ActionKind::Download, "Opening...", "kelv:open:x");
  OpenCmd(Argument(), job).DoExecute();
  ASSERT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
  EXPECT_EQ(job->GetProgress(), 100);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string line;
  while (std::chrono::steady_clock::now() < deadline) {
    line = ReadFile(record);
    if (!line.empty() && line.back() == '\n') break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string document = (ChapterFolder() / "Chapter tpv-1_v3.indd").string();
  const auto tab = line.find('\t');
  ASSERT_NE(tab, std::string::npos) << line;
  EXPECT_EQ(line.substr(tab + 1), document + "\n");
}

}  // namespace
}  // namespace hopwell::testing
