#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/filesystem/operations.hpp>

#include "apps/AppLauncher.h"
#include "apps/LaunchApplication.h"
#include "apps/ProcessTable.h"
#include "apps/SpawnProgram.h"
#include "base/FrontEnd.h"
#include "common/LogCapture.h"
#include "common/ParameterDocument.h"
#include "common/StandinApp.h"
#include "common/TempDir.h"
#include "storage/FileModes.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using namespace std::chrono_literals;
using testing::MakeParameters;

const SpawnOptions kNoReap{false, {}};

// Polls the process table until the answer is `running` or five seconds pass.
bool WaitForRunning(const fs::path& application, bool running) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while ((FindRunningProcess(application) != 0) != running) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A stand-in started for the test, stopped (SIGTERM, then reaped) at its end.
class RunningStandin {
 public:
  RunningStandin(const fs::path& program, const fs::path& record,
                 std::vector<std::string> arguments = {}) {
    std::vector<std::string> all = {"--record", record.string(), "--stay", "60"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    pid_ = SpawnProgram(program, all, kNoReap);
  }
  ~RunningStandin() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
};

class AppLauncherTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  testing::ScopedEnv record_{"HOPWELL_STANDIN_RECORD", (dir_ / "record.log").string()};
  testing::ScopedEnv appData_{"APPDATA", (dir_ / "appdata").string()};
  testing::LogCapture log_;
};

TEST_F(AppLauncherTest, DocumentPathArrivesAsOneArgument) {
  const fs::path document = dir_ / "My Chapter \"final\" 'v2'\t$HOME;.indd";
  EXPECT_GT(LaunchApplication(testing::StandinApp(), document), 32);
  const auto starts = testing::WaitForStandinStarts(dir_ / "record.log", 1, 10s);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].arguments, std::vector<std::string>{document.string()});
  EXPECT_TRUE(log_.Has("info", "ShellExecute \"" + testing::StandinApp().string() + "\" \"" +
                                   document.string() + "\""));
  EXPECT_EQ(LaunchApplication(dir_ / "missing.exe", document), 2);
}

TEST_F(AppLauncherTest, RunningAnswersFollowTheFileWhateverItsPathSpelling) {
  const fs::path app = testing::StandinApp();
  // The stand-in is not running for this test's file yet; another copy may run elsewhere.
  const fs::path copy = dir_ / "programs" / "InDesign.exe";
  fs::create_directories(copy.parent_path());
  fs::copy_file(app, copy);
  fs::create_symlink(copy, dir_ / "link.exe");
  fs::create_directory_symlink(dir_ / "programs", dir_ / "linked");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(FindRunningProcess(copy), 0);
  {
    RunningStandin standin(copy, dir_ / "record.log");
    ASSERT_GT(standin.pid(), 0);
    ASSERT_TRUE(WaitForRunning(copy, true));
    struct Case {
      std::string query;
      bool running;
    };
    const Case cases[] = {
        {copy.string(), true},
        {(dir_ / "link.exe").string(), true},
        {(dir_ / "linked" / "InDesign.exe").string(), true},
        {dir_.path().string() + "//programs/./InDesign.exe", true},
        {(dir_ / "programs" / ".." / "programs" / "InDesign.exe").string(), true},
        // Another letter case names no file here; a missing file runs nowhere.
        {boost::algorithm::to_lower_copy(copy.string()), false},
        {copy.string() + ".missing", false},
        {"", false},
        // A FIFO is answered at once, without waiting for a writer.
        {(dir_ / "fifo").string(), false},
    };
    for (const Case& c : cases) {
      EXPECT_EQ(FindRunningProcess(c.query), c.running ? standin.pid() : 0) << c.query;
    }
    // A file with another link may be shown under either name.
    fs::create_hard_link(copy, dir_ / "hard.exe");
    EXPECT_EQ(FindRunningProcess(dir_ / "hard.exe"), standin.pid());
  }
  EXPECT_TRUE(WaitForRunning(dir_ / "link.exe", false));
}

TEST_F(AppLauncherTest, ScriptRunByItsInterpreterCountsAsRunning) {
  const fs::path script = dir_ / "InCopy.sh";
  // The sleeps let go of the test's output at once: one that outlives its shell (a TERM that
  // lands before the trap is set) must not keep ctest waiting for the pipe to close.
  const std::string body = "exec >/dev/null 2>&1\ntrap 'kill $!; exit 0' TERM\nsleep 60 &\nwait\n";
  testing::WriteFile(script, "#!/usr/bin/env -S sh -e\n" + body);
  fs::permissions(script, fs::perms::owner_all);
  fs::create_symlink(script, dir_ / "InCopy");
  // Running all along: the script only as $0 of code given with -c, which does not run it.
  const pid_t code = SpawnProgram("/bin/sh", {"-c", body, script.string()}, kNoReap);
  ASSERT_GT(code, 0);
  struct Case {
    const char* name;
    fs::path program;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"interpreter and script", "/bin/sh", {script.string()}},
      {"options before the script", "/bin/sh", {"-e", "--", script.string()}},
      {"env -S of the #! line", script, {}},
      {"relative to the working folder", "/bin/sh", {"./InCopy.sh"}},
  };
  for (const Case& c : cases) {
    const pid_t started = SpawnProgram(c.program, c.arguments, {false, dir_.path()});
    ASSERT_GT(started, 0) << c.name;
    EXPECT_TRUE(WaitForRunning(script, true)) << c.name;
    // Polled as well: while env executes the interpreter, the process briefly shows no
    // command line at all.
    EXPECT_TRUE(WaitForRunning(dir_ / "InCopy", true)) << c.name;
    ::kill(started, SIGTERM);
    ::waitpid(started, nullptr, 0);
    // Once it has ended, the process given code is not taken for the script.
    EXPECT_TRUE(WaitForRunning(script, false)) << c.name;
  }
  ::kill(code, SIGTERM);
  ::waitpid(code, nullptr, 0);
}

// The client keeps its own files private (mask 077); a started program gets the user's mask.
TEST_F(AppLauncherTest, StartedProgramGetsTheMaskTheClientWasStartedWith) {
  const mode_t before = ::umask(022);
  MakeOwnFilesPrivate();
  const fs::path written = dir_ / "mask.txt";
  const pid_t child = SpawnProgram("/bin/sh", {"-c", "umask > \"$0\"", written.string()}, kNoReap);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const mode_t after = ::umask(before);
  EXPECT_EQ(after, 077u);
  std::ifstream in(written.string());
  std::string mask;
  in >> mask;
  EXPECT_EQ(mask, "0022");
}

TEST_F(AppLauncherTest, LauncherStartsFoundApplicationAndReportsMissingOne) {
  auto found = CreateAppLauncher(
      MakeParameters<AppCmdParameters>(
          {{"appname", "InDesign"}, {"appdefaultpath", testing::StandinApp().string()}}),
      nullptr);
  EXPECT_TRUE(found->OpenDocument(dir_ / "a b.indd"));
  EXPECT_EQ(found->ApplicationFolder(), testing::StandinApp().parent_path());
  EXPECT_EQ(testing::WaitForStandinStarts(dir_ / "record.log", 1, 10s).size(), 1u);

  struct Case {
    std::string right;
    std::string type;
    std::string message;
  };
  for (const Case& c :
       {Case{"S", "INDESIGN", "INDESIGN_S 17.0.2."}, Case{"rp", "INDESIGN", "INDESIGN_RP 17.0.2."},
        Case{"X", "INCOPY", "UNKNOWN_DOCUMENT_TYPE_ 17.0.2."}}) {
    auto missing = CreateAppLauncher(MakeParameters<AppCmdParameters>({{"appname", "InDesign"},
                                                                       {"appversion", "17.0.2"},
                                                                       {"documenttype", c.type},
                                                                       {"userright", c.right}}),
                                     nullptr);
    try {
      missing->OpenDocument(dir_ / "a.indd");
      ADD_FAILURE() << "no message thrown";
    } catch (const std::string& message) {
      EXPECT_EQ(message,
                "Couldn't find the application associated with application id " + c.message);
    }
    EXPECT_TRUE(missing->ApplicationFolder().empty());
  }
}

TEST_F(AppLauncherTest, ShortcutIsASymbolicLinkInAFolderMadeForIt) {
  auto launcher = CreateAppLauncher(MakeParameters<AppCmdParameters>({}), nullptr);
  const fs::path shortcut = dir_ / "new" / "folder" / "InDesign.lnk";
  EXPECT_TRUE(launcher->CreateShortcut("/opt/InDesign.exe", shortcut));
  EXPECT_EQ(fs::read_symlink(shortcut), fs::path("/opt/InDesign.exe"));
  EXPECT_TRUE(launcher->CreateShortcut("/opt/Other.exe", shortcut));  // replaces it
  EXPECT_EQ(fs::read_symlink(shortcut), fs::path("/opt/Other.exe"));
  testing::WriteFile(dir_ / "file", "x");
  EXPECT_FALSE(launcher->CreateShortcut("/opt/InDesign.exe", dir_ / "file" / "InDesign.lnk"));
  EXPECT_TRUE(
      log_.Has("error", (dir_ / "file").string() + " already exists, but is not a directory"));
}

}  // namespace
}  // namespace hopwell
