// Job control through intake and the real commands against the simulator: a cancel takes each
// command's way out, a cut download is resumed whichever command fetches it, and a failed
// job handed to intake again succeeds once the fault is gone.
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>

#include "apps/SpawnProgram.h"
#include "base/FrontEnd.h"
#include "commands/RegisterCommands.h"
#include "commands/install/PackageLock.h"
#include "commands/install/PluginInstallerCmd.h"
#include "common/LogCapture.h"
#include "common/SimulatorTest.h"
#include "common/StandinApp.h"
#include "common/TempDir.h"
#include "intake/CommandIntake.h"
#include "shell/JobRowActions.h"
#include "shell/QuitControl.h"
#include "storage/LocalFolders.h"

namespace hopwell::testing {
namespace {

namespace fs = boost::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kArchive = "/api/v2/ext/chapter/tpv-1/files/chapter.zip";
const char* const kPackages = "/api/v2/ext/plugin/package/";
const char* const kInstall =
    "kelv:install:http:%2F%2F127.0.0.1:18080%2Fapi%2Fv2%2Fext%2Fplugin%2Finstall_parameters";
const char* const kEsef = "kelv:esef:http://127.0.0.1:18080/esef/reports/2025:tok42";

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::uintmax_t SizeOf(const fs::path& file) {
  boost::system::error_code error;
  const std::uintmax_t size = fs::file_size(file, error);
  return error ? 0 : size;
}

// Counts the dialogs and questions the commands bring up; runs `onChange` for every change
// of a job, on the thread that made it.
class WatchingFrontEnd final : public SilentFrontEnd {
 public:
  void JobChanged(JobStatus& job) override {
    if (onChange) onChange(job);
  }
  void ShowMessageDialog(const std::string&, const std::string&) override { ++dialogs; }
  void ShowApplicationMissing(const std::string&) override { ++dialogs; }
  ProxyAnswer AskProxyCredentials(const std::string&, ProxyCredentials&) override {
    ++dialogs;
    return ProxyAnswer::Cancelled;
  }
  std::function<void(JobStatus&)> onChange;
  std::atomic<int> dialogs{0};
};

class JobControlSimulatorTest : public SimulatorTest {
 protected:
  static void SetUpTestSuite() {
    SimulatorTest::SetUpTestSuite();
    RegisterCommands();
  }

  JobControlSimulatorTest()
      : tmp_("TMPDIR", (dir_ / "tmp").string()),
        appData_("APPDATA", (dir_ / "app").string()),
        record_("HOPWELL_STANDIN_RECORD", (dir_ / "standin.log").string()) {
    SetFrontEnd(frontEnd_);  // jobs go nowhere, dialogs say no
  }
  ~JobControlSimulatorTest() override {
    CancelAllJobs();
    WaitForCommandThreads(20000);
    SetFrontEnd(nullptr);
  }

  static JobPtr Submit(const std::string& command) {
    SubmitCommand(command);
    return JobRegistry().back();
  }
  static std::string OpenCommand() { return "kelv:open:http://127.0.0.1:18080:tok-1"; }

  static bool Ends(const JobPtr& job, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return !IsActive(job->GetState()); }, timeout);
  }
  // Cancels the job as the job list does and returns how long it took to end.
  static std::chrono::milliseconds CancelAndTime(const JobPtr& job) {
    const auto asked = Clock::now();
    EXPECT_TRUE(job->Cancel());
    EXPECT_TRUE(Ends(job, std::chrono::seconds(20)));
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
  }

  boost::property_tree::ptree Locks() const {
    std::string text;
    EXPECT_TRUE(sim_->Control("/_sim/chapter/locks", nullptr, &text));
    std::istringstream in(text);
    boost::property_tree::ptree tree;
    boost::property_tree::read_json(in, tree);
    return tree;
  }
  std::vector<SimulatorRequest> RequestsTo(const std::string& fragment) const {
    std::vector<SimulatorRequest> found;
    for (const auto& request : sim_->Requests()) {
      if (request.path.find(fragment) != std::string::npos) found.push_back(request);
    }
    return found;
  }
  fs::path ChapterFolder() const { return TempRoot() / "space-1" / "tpv-1"; }

  // A chapter's working files and the plug-in's save request for "kelv:save:7:key"; the
  // working folder.
  fs::path WriteSaveRequest() const {
    const fs::path kelv = TempRoot();
    const fs::path working = kelv / "space" / "12";
    fs::create_directories(working / "Links");
    WriteFile(working / "chapter.indd", std::string(300000, 'i'));
    WriteFile(working / "Links" / "a.png", "png");
    std::string files;
    for (const char* name : {"chapter.indd", "Links/a.png"}) {
      files += fmt::format(R"(<File Type="INDD" Name="{}" Path="{}" Size="{}"/>)", name,
                           (working / name).string(), SizeOf(working / name));
    }
    fs::create_directories(kelv / "upload" / "7");
    WriteFile(kelv / "upload" / "7" / "cgu_7.xml",
              "<?xml version=\"1.0\"?><Save version=\"1\"><IDS>space</IDS><TPVID>12</TPVID>"
              "<Token>tok</Token><URL>" +
                  sim_->HttpBase() +
                  "</URL><WorkingFolderName>12</WorkingFolderName><UploadFilesList><Archive>" +
                  files + "</Archive></UploadFilesList></Save>");
    return working;
  }

  std::shared_ptr<WatchingFrontEnd> frontEnd_ = std::make_shared<WatchingFrontEnd>();
  TempDir dir_;
  ScopedEnv tmp_;
  ScopedEnv appData_;
  ScopedEnv record_;
};

TEST_F(JobControlSimulatorTest, CancelDuringTheChapterDownloadUnlocksOnceAndKeepsNothing) {
  const std::string settings = R"({"archive_bytes": 4000000})";
  ASSERT_TRUE(sim_->Control("/_sim/chapter", &settings));
  ASSERT_TRUE(sim_->AddScenario(
      fmt::format(R"({{"mode": "slow", "chunk": 32768, "delay": 0.05, "path": "{}"}})", kArchive)));
  const JobPtr job = Submit(OpenCommand());
  const fs::path archive = ChapterFolder() / "chapter.zip";
  const fs::path partial = ChapterFolder() / "chapter.zip.part";
  ASSERT_TRUE(WaitUntil([&] { return SizeOf(partial) > 0; }, std::chrono::seconds(60)))
      << job->LastMessage();

  const auto took = CancelAndTime(job);
  EXPECT_LT(took, std::chrono::seconds(1));
  ASSERT_TRUE(WaitForCommandThreads(20000));
  EXPECT_EQ(job->GetState(), JobState::Cancelled);
  EXPECT_EQ(job->Description(), "Download of chapter Chapter tpv-1 Cancelled");
  EXPECT_EQ(job->LastMessage(), "Cancelled");
  const auto locks = Locks();
  EXPECT_EQ(locks.get<int>("locks.tpv-1", 0), 1);
  EXPECT_EQ(locks.get<int>("unlocks.tpv-1", 0), 1);
  EXPECT_TRUE(locks.get_child("holders").empty()) << "the server's lock is released";
  EXPECT_FALSE(fs::exists(partial)) << "the half-downloaded file is removed";
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_EQ(RequestsTo("/files/notes.txt").size(), 0u);
  for (fs::directory_iterator it(ChapterFolder()), end; it != end; ++it) {
    EXPECT_NE(it->path().extension(), ".indd") << it->path();
  }
  EXPECT_FALSE(fs::exists(ChapterFolder() / "CurrentDocumentDB.xml")) << "nothing recorded";
  EXPECT_FALSE(fs::exists(CurrentDocumentsDbPath()));
  EXPECT_TRUE(ReadStandinRecord(dir_ / "standin.log").empty());
  EXPECT_EQ(job->Folder(), ChapterFolder().string());
  EXPECT_TRUE(ActionsFor(*job).retry);
}

TEST_F(JobControlSimulatorTest, CancelDuringTheUploadChecksNothingInAndDeletesNothing) {
  const fs::path kelv = TempRoot();
  const fs::path working = WriteSaveRequest();
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "delay", "delay": 3, "path": "/api/v2/ext/upload"})"));

  const JobPtr job = Submit("kelv:save:7:key");
  ASSERT_TRUE(WaitUntil([&] { return job->LastMessage() == "Uploading chapter"; },
                        std::chrono::seconds(30)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the first chunk is on its way
  const auto took = CancelAndTime(job);
  EXPECT_LT(took, std::chrono::seconds(1));
  ASSERT_TRUE(WaitForCommandThreads(20000));
  EXPECT_EQ(job->GetState(), JobState::Cancelled);
  EXPECT_EQ(job->Description(), "Upload of document chapter Cancelled");
  // The simulator logs the chunk once its delay is over.
  ASSERT_TRUE(WaitUntil([&] { return !RequestsTo("/api/v2/ext/upload").empty(); },
                        std::chrono::seconds(10)));
  EXPECT_EQ(RequestsTo("/api/v2/ext/upload").size(), 1u) << "no chunk is sent again";
  EXPECT_TRUE(RequestsTo("/checkin").empty()) << "no check-in after a cancel";
  for (const char* name : {"chapter.indd", "Links/a.png"}) {
    EXPECT_TRUE(fs::exists(working / name)) << name;
  }
  EXPECT_TRUE(fs::exists(kelv / "upload" / "7" / "cgu_7_0.zip")) << "the archive stays";
  EXPECT_EQ(job->Folder(), working.string());
}

TEST_F(JobControlSimulatorTest, CancelWhileAnInstallWaitsForAnother) {
  LogCapture log;
  ASSERT_TRUE(sim_->AddScenario(fmt::format(
      R"({{"mode": "slow", "chunk": 64, "delay": 0.5, "path_prefix": "{}"}})", kPackages)));
  const fs::path packages = AppDataRoot() / "plug-ins";
  const auto logged = [&](const std::string& message) {
    int count = 0;
    for (const auto& record : log.Records()) count += record.message == message ? 1 : 0;
    return count;
  };
  const JobPtr holder = Submit(kInstall);
  // The package's 1521 bytes take about 12 s: the holder is in its download from here on.
  ASSERT_TRUE(
      WaitUntil([&] { return logged("Downloading 1521 bytes") == 1; }, std::chrono::seconds(30)));
  const JobPtr waiter = Submit(kInstall);
  ASSERT_TRUE(WaitUntil([&] { return logged("Downloading and Installing plug-ins...") == 2; },
                        std::chrono::seconds(30)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // into the lock's wait

  EXPECT_LT(CancelAndTime(waiter), std::chrono::seconds(1));
  EXPECT_EQ(waiter->GetState(), JobState::Cancelled);
  EXPECT_EQ(waiter->Description(), "Installation Cancelled");
  EXPECT_EQ(holder->GetState(), JobState::Running) << "the holder goes on";

  EXPECT_LT(CancelAndTime(holder), std::chrono::seconds(1));
  ASSERT_TRUE(WaitForCommandThreads(20000));
  EXPECT_EQ(holder->GetState(), JobState::Cancelled);
  EXPECT_FALSE(fs::exists(packages / "21.0-Version.txt")) << "no version recorded";
  EXPECT_FALSE(fs::exists(packages / "2026.1.0.zip")) << "the unfinished package is removed";
  EXPECT_EQ(RequestsTo(kPackages).size(), 1u) << "only the holder asked for the package";
}

// Every kind of download a command makes survives two cuts.
struct ResumeRow {
  const char* name;
  std::string command;
  std::string path;  // of the download that is cut
  std::string file;  // the name it is written under
};

void PrintTo(const ResumeRow& c, std::ostream* out) {
  *out << c.name;
}

class ResumeEveryDownloadTest : public JobControlSimulatorTest,
                                public ::testing::WithParamInterface<ResumeRow> {};

TEST_P(ResumeEveryDownloadTest, CutTwiceAndCompleted) {
  const ResumeRow& row = GetParam();
  LogCapture log;
  ASSERT_TRUE(sim_->AddScenario(
      fmt::format(R"({{"mode": "cut", "bytes": 200, "count": 2, "path": "{}"}})", row.path)));
  const JobPtr job = Submit(row.command);
  ASSERT_TRUE(Ends(job, std::chrono::seconds(120)));
  ASSERT_TRUE(WaitForCommandThreads(20000));
  EXPECT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
  const auto requests = RequestsTo(row.path);
  ASSERT_EQ(requests.size(), 3u);
  const std::string& name = row.file;
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].Header("Range"), fmt::format("bytes={}-", 200 * i));
    EXPECT_EQ(requests[i].status, 206);
    EXPECT_TRUE(
        log.Has("info", fmt::format("Resuming {} at byte {} (attempt {}/3)", name, 200 * i, i)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, ResumeEveryDownloadTest,
    ::testing::Values(ResumeRow{"ChapterArchive", "kelv:open:http://127.0.0.1:18080:tok-1",
                                kArchive, "chapter.zip"},
                      ResumeRow{"PluginPackage", kInstall, std::string(kPackages) + "2026.1.0.zip",
                                "2026.1.0.zip"},
                      ResumeRow{"TaggerPackage", kEsef,
                                "/esef/tagger/2026.1.0/KelvoryXbrlTagger.zip", "2026.1.0"},
                      ResumeRow{"ReportFile", kEsef, "/esef/files/AnnualReport2025.zip",
                                "AnnualReport2025.zip"}),
    [](const ::testing::TestParamInfo<ResumeRow>& info) { return std::string(info.param.name); });

TEST_F(JobControlSimulatorTest, RetryOfAFailedOpenSucceedsOnceTheFaultIsGone) {
  ASSERT_TRUE(sim_->AddScenario(fmt::format(R"({{"mode": "404", "path": "{}"}})", kArchive)));
  const JobPtr failed = Submit(OpenCommand());
  ASSERT_TRUE(Ends(failed, std::chrono::seconds(60)));
  ASSERT_EQ(failed->GetState(), JobState::Failed);
  ASSERT_TRUE(ActionsFor(*failed).retry);
  ASSERT_TRUE(sim_->ClearScenarios());

  const std::size_t before = JobRegistry().size();
  RetryJob(*failed);
  ASSERT_EQ(JobRegistry().size(), before + 1);
  const JobPtr retried = JobRegistry().back();
  EXPECT_NE(retried, failed);
  EXPECT_EQ(retried->CommandString(), failed->CommandString());
  ASSERT_TRUE(Ends(retried, std::chrono::seconds(60)));
  // The job counts as succeeded once the check-in is confirmed; its clean-up follows.
  ASSERT_TRUE(WaitForCommandThreads(20000));
  EXPECT_EQ(retried->GetState(), JobState::Succeeded) << retried->LastMessage();
  EXPECT_EQ(failed->GetState(), JobState::Failed) << "the failed row stays as it was";
  EXPECT_EQ(WaitForStandinStarts(dir_ / "standin.log", 1, std::chrono::seconds(20)).size(), 1u);
  const JobRowActions actions = ActionsFor(*retried);
  EXPECT_TRUE(actions.showFolder);
  EXPECT_FALSE(actions.retry);
  EXPECT_EQ(failed->Folder(), ChapterFolder().string());
  // The failed open's folder is kept aside: the retry downloads into a fresh sibling.
  EXPECT_EQ(FolderToShow(*retried), fs::path(retried->Folder()));
  EXPECT_EQ(fs::path(retried->Folder()).parent_path(), ChapterFolder().parent_path());
}

TEST_F(JobControlSimulatorTest, QuitAfterACancelledOpenWaitsForItsUnlock) {
  const std::string settings = R"({"archive_bytes": 4000000})";
  ASSERT_TRUE(sim_->Control("/_sim/chapter", &settings));
  ASSERT_TRUE(sim_->AddScenario(
      fmt::format(R"({{"mode": "slow", "chunk": 32768, "delay": 0.05, "path": "{}"}})", kArchive)));
  // The unlock is answered a second late: the job has ended while its thread still waits.
  ASSERT_TRUE(sim_->AddScenario(
      R"({"mode": "delay", "delay": 1, "path": "/api/v2/ext/chapter/unlock/tpv-1"})"));
  const JobPtr job = Submit(OpenCommand());
  ASSERT_TRUE(WaitUntil([&] { return SizeOf(ChapterFolder() / "chapter.zip.part") > 0; },
                        std::chrono::seconds(60)));
  ASSERT_TRUE(job->Cancel());
  ASSERT_TRUE(Ends(job, std::chrono::seconds(5)));
  ASSERT_EQ(RunningCommandCount(), 1) << "the open is on its way out";

  int quits = 0;
  SetQuitHandler([&quits](int) { ++quits; });
  EXPECT_TRUE(RequestQuit()) << "no job is active: no question";
  SetQuitHandler({});
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(RunningCommandCount(), 0) << "the quit waited for the command thread";
  EXPECT_EQ(Locks().get<int>("unlocks.tpv-1", 0), 1);
  EXPECT_EQ(frontEnd_->dialogs, 0);
}

// A cancel while the command waits for another installation's package lock, with the
// editing application running: the update would be refused with a dialog, but a stopped job
// ends Cancelled without one.
class LockWaitSimulatorTest : public JobControlSimulatorTest,
                              public ::testing::WithParamInterface<const char*> {};

TEST_P(LockWaitSimulatorTest, EndsCancelledWithoutADialog) {
  const pid_t application =
      SpawnProgram(StandinApp(), {"--record", (dir_ / "app.log").string(), "--stay", "60"},
                   SpawnOptions{false, {}});
  ASSERT_GT(application, 0);
  ASSERT_FALSE(WaitForStandinStarts(dir_ / "app.log", 1, std::chrono::seconds(10)).empty());
  fs::create_directories(PluginInstallerCmd::PackageFolder());
  const PackageLock held(PluginInstallerCmd::LockFilePath("2026.1.0"), false);
  ASSERT_TRUE(held.Held());

  const JobPtr job = Submit(GetParam());
  const bool waiting = WaitUntil(
      [&] { return job->LastMessage() == "Waiting for another installation of the plug-ins..."; },
      std::chrono::seconds(30));
  EXPECT_TRUE(waiting) << job->LastMessage();
  if (waiting) {
    EXPECT_LT(CancelAndTime(job), std::chrono::seconds(1));
  }
  ASSERT_TRUE(WaitForCommandThreads(20000));
  ::kill(application, SIGTERM);
  ::waitpid(application, nullptr, 0);
  EXPECT_EQ(job->GetState(), JobState::Cancelled);
  EXPECT_EQ(job->LastMessage(), "Cancelled");
  EXPECT_EQ(frontEnd_->dialogs, 0);
  EXPECT_TRUE(RequestsTo(kPackages).empty());
}

INSTANTIATE_TEST_SUITE_P(Commands, LockWaitSimulatorTest,
                         ::testing::Values(kInstall, "kelv:open:http://127.0.0.1:18080:tok-1"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "Install" : "Open");
                         });

TEST_F(JobControlSimulatorTest, RetryOfAFailedSaveUsesItsRequestAndSucceeds) {
  const fs::path working = WriteSaveRequest();
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "500", "path": "/api/v2/ext/token/can_upload"})"));
  const JobPtr failed = Submit("kelv:save:7:key");
  ASSERT_TRUE(Ends(failed, std::chrono::seconds(60)));
  ASSERT_EQ(failed->GetState(), JobState::Failed) << failed->LastMessage();
  EXPECT_FALSE(fs::exists(TempRoot() / "upload" / "7" / "cgu_7.xml")) << "read once";
  ASSERT_TRUE(ActionsFor(*failed).retry);
  ASSERT_TRUE(sim_->ClearScenarios());

  RetryJob(*failed);
  const JobPtr retried = JobRegistry().back();
  ASSERT_NE(retried, failed);
  ASSERT_TRUE(Ends(retried, std::chrono::seconds(60)));
  // The job counts as succeeded once the check-in is confirmed; its clean-up follows.
  ASSERT_TRUE(WaitForCommandThreads(20000));
  EXPECT_EQ(retried->GetState(), JobState::Succeeded) << retried->LastMessage();
  EXPECT_EQ(RequestsTo("/api/v2/ext/checkin").size(), 1u);
  EXPECT_FALSE(fs::exists(working / "chapter.indd")) << "cleaned up after the check-in";

  // A save that found no request has nothing to run again.
  const JobPtr without = Submit("kelv:save:8");
  ASSERT_TRUE(Ends(without, std::chrono::seconds(30)));
  EXPECT_EQ(without->GetState(), JobState::Failed);
  EXPECT_FALSE(ActionsFor(*without).retry);
}

TEST_F(JobControlSimulatorTest, CancelAfterTheConfirmedCheckInLetsTheCleanUpFinish) {
  const fs::path working = WriteSaveRequest();
  // The cancel lands right after the platform confirmed the check-in, before the clean-up.
  frontEnd_->onChange = [](JobStatus& job) {
    if (job.LastMessage() == "Chapter was successfully checked in") job.Cancel();
  };
  const JobPtr job = Submit("kelv:save:7:key");
  ASSERT_TRUE(WaitForCommandThreads(60000));
  frontEnd_->onChange = nullptr;
  EXPECT_TRUE(job->CancelRequested());
  EXPECT_EQ(job->GetState(), JobState::Succeeded);
  EXPECT_EQ(job->Description(), "Successfully uploaded document chapter");
  EXPECT_EQ(job->LastMessage(),
            "The chapter was checked in before the cancel: the save was completed");
  EXPECT_EQ(RequestsTo("/api/v2/ext/checkin").size(), 1u);
  EXPECT_FALSE(fs::exists(working)) << "the working folder went with the clean-up";
  EXPECT_FALSE(fs::exists(TempRoot() / "upload" / "7" / "cgu_7_0.zip"));
}

// Installations whose names the file system refuses: logged as the deployment's steps say,
// never thrown.
struct RefusedNameRow {
  const char* name;
  std::string query;    // appended to the install document's address
  std::string package;  // POST /_sim/plugin_package
  JobState state;
  std::string logged;  // an error line
};

void PrintTo(const RefusedNameRow& row, std::ostream* out) {
  *out << row.name;
}

class RefusedNameSimulatorTest : public JobControlSimulatorTest,
                                 public ::testing::WithParamInterface<RefusedNameRow> {};

TEST_P(RefusedNameSimulatorTest, InstallGoesOnAsItsStepsSay) {
  const RefusedNameRow& row = GetParam();
  LogCapture log;
  if (!row.package.empty()) {
    ASSERT_TRUE(sim_->Control("/_sim/plugin_package", &row.package));
  }
  const JobPtr job = Submit(kInstall + row.query);
  ASSERT_TRUE(Ends(job, std::chrono::seconds(60)));
  ASSERT_TRUE(WaitForCommandThreads(20000));
  EXPECT_EQ(job->GetState(), row.state) << job->LastMessage();
  EXPECT_TRUE(log.HasFragment("error", row.logged));
  for (const std::string& message : job->Messages()) {
    EXPECT_EQ(message.find("boost::filesystem"), std::string::npos) << message;
  }
  EXPECT_FALSE(fs::exists(PluginInstallerCmd::PackageFolder() / "2026.1.0" / "a"))
      << "nothing of a refused entry is written";
}

INSTANTIATE_TEST_SUITE_P(
    Names, RefusedNameSimulatorTest,
    ::testing::Values(RefusedNameRow{"VersionLongerThanAFileName",
                                     "?appversion=21." + std::string(300, '9'), "",
                                     JobState::Succeeded, "Failed to create folder "},
                      RefusedNameRow{"EntryPathLongerThanPathMax", "",
                                     R"({"extra_entry": ")" +
                                         [] {
                                           std::string name;
                                           while (name.size() < 65533) name += "a/";
                                           return name + "x";
                                         }() +
                                         R"("})",
                                     JobState::Failed, "Refusing zip entry whose path is longer"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hopwell::testing
