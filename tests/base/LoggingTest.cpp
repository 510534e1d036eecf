#include "base/Logging.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <fmt/format.h>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "base/LogFailure.h"
#include "common/TempDir.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempDir;

// Every log file of the folder, in the order of their numbers.
std::string AllLogs(const fs::path& folder) {
  std::string all;
  for (int n = 0; n < 100; ++n) {
    const fs::path file = folder / fmt::format("Hopwell_{:05}.log", n);
    if (fs::exists(file)) all += ReadFile(file);
  }
  return all;
}

std::string Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return fmt::format("{}.{:06}", text, now.tv_nsec / 1000);
}

// A value whose printing logs a record of its own, as a describing function might.
struct Chatty {
  LogSource* log;
};
std::ostream& operator<<(std::ostream& out, const Chatty& chatty) {
  HW_LOG(*chatty.log, info) << "describing";
  return out << "described";
}

// Builds one record from `values` and returns the text a std::ostream makes of them.
template <typename... Values>
std::string LogAndPrint(LogSource& log, Severity level, const Values&... values) {
  {
    LogRecord record(log, level);
    (void)(record << ... << values);
  }
  std::ostringstream text;
  (void)(text << ... << values);
  return text.str();
}

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// InitLogging changes process-wide state; ctest runs each test in its own process.
class LoggingTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedEnv tmp_{"TMPDIR", dir_.path().string()};
};

TEST_F(LoggingTest, RotatesAtOneMebibyteAndFiltersBelowInfo) {
  InitLogging(LogFolder());
  LogSource log;
  HW_LOG(log, debug) << "hidden debug line";
  HW_LOG(log, trace) << "hidden trace line";
  const std::string filler(200, 'x');
  for (int i = 0; i < 6000; ++i) HW_LOG(log, info) << "line " << i << " " << filler;
  FlushLog();

  const fs::path folder = LogFolder();
  ASSERT_TRUE(fs::exists(folder / "Hopwell_00000.log"));
  ASSERT_TRUE(fs::exists(folder / "Hopwell_00001.log"));
  const auto first = fs::file_size(folder / "Hopwell_00000.log");
  // A record that would pass the limit starts the next file.
  EXPECT_LE(first, 1024u * 1024u);
  EXPECT_GT(first, 1024u * 1024u - 512u);

  const std::regex format(
      R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6} \[0x[0-9a-f]{8}\]: <info> line \d+ x+)");
  const auto lines = Lines(folder / "Hopwell_00000.log");
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(std::regex_match(lines.front(), format)) << lines.front();
  for (const std::string& line : lines) EXPECT_EQ(line.find("hidden"), std::string::npos);
  // Nothing is lost across the rotation.
  const auto rest = Lines(folder / "Hopwell_00001.log");
  EXPECT_EQ(lines.size() + rest.size(), 6000u);
}

TEST_F(LoggingTest, LinesFromTwoThreadsStayWhole) {
  InitLogging(LogFolder());
  std::set<std::string> kernelIds;
  std::mutex idsLock;
  auto writer = [&](char fill) {
    {
      std::lock_guard lock(idsLock);
      kernelIds.insert(fmt::format("0x{:08x}", ::gettid()));
    }
    LogSource log;
    const std::string text(300, fill);
    for (int i = 0; i < 500; ++i) HW_LOG(log, warning) << text;
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  FlushLog();
  std::set<std::string> threads;
  int count = 0;
  const std::regex format(R"(.* \[(0x[0-9a-f]{8})\]: <warning> (a{300}|b{300}))");
  for (const std::string& line : Lines(LogFolder() / "Hopwell_00000.log")) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, format)) << line.substr(0, 80);
    threads.insert(match[1]);
    ++count;
  }
  EXPECT_EQ(count, 1000);
  // The kernel's thread ids, as ps -L and the crash record show them.
  EXPECT_EQ(threads, kernelIds);
}

// The records of several threads, made of every kind of value, come out as the lines the
// stream-based log wrote: each value as a std::ostream prints it (paths quoted with '&'
// escapes), the head "YYYY-MM-DD HH:MM:SS.ffffff [0x<kernel thread id>]: <level> ", a newline
// only where the message lacks one, no record lost, none torn, each thread's in its order.
TEST_F(LoggingTest, LinesOfSeveralThreadsAreThoseOfTheStreamLog) {
  InitLogging(LogFolder());
  struct Expected {
    std::string level;
    std::string text;
  };
  std::mutex lock;
  std::map<std::string, std::vector<Expected>> expected;  // by thread id text
  const fs::path odd = dir_ / "say \"hi\" & go";
  const std::string first = Now();
  auto writer = [&](char fill) {
    LogSource log;
    std::vector<Expected> mine;
    const auto note = [&](const char* level, std::string text) {
      mine.push_back({level, std::move(text)});
    };
    for (int i = 0; i < 200; ++i) {
      note("info",
           LogAndPrint(log, Severity::info, "Received ", i, " bytes into ", odd, ' ', 2.5 * i, ' ',
                       -7L, ' ', true, ' ', 1e-7, ' ', (std::size_t{42} << (i % 40)), ' ',
                       static_cast<unsigned char>(fill), ' ', 0.1f, ' ', 1e300 * 1e300));
      LogAndPrint(log, Severity::debug, "not in the file ", i);
      note("warning", LogAndPrint(log, Severity::warning, "  JobFailed ", std::string("text "),
                                  std::string_view("view ")));
      note("error", LogAndPrint(log, Severity::error));
      note("info", LogAndPrint(log, Severity::info, "ends in a newline\n"));
      note("fatal",
           LogAndPrint(log, Severity::fatal, "two\nlines ", static_cast<const void*>(&log)));
      if (i % 50 == 0) note("info", LogAndPrint(log, Severity::info, std::string(40000, fill)));
      if (i % 50 == 1) {
        const std::string outer = LogAndPrint(log, Severity::info, "outer ", Chatty{&log}, '.');
        // Printed twice: into the record, then for the comparison.
        note("info", "describing");
        note("info", outer);
        note("info", "describing");
      }
    }
    std::lock_guard guard(lock);
    expected[fmt::format("{:08x}", ::gettid())] = std::move(mine);
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  writer('c');
  a.join();
  b.join();
  FlushLog();
  const std::string last = Now();

  const std::string all = AllLogs(LogFolder());
  const std::regex head(
      R"((?:^|\n)(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}) \[0x([0-9a-f]{8})\]: <(\w+)> )");
  std::map<std::string, std::size_t> seen;
  std::map<std::string, std::string> lastStamp;
  auto it = std::sregex_iterator(all.begin(), all.end(), head);
  for (; it != std::sregex_iterator(); ++it) {
    const std::smatch& match = *it;
    const auto next = std::next(it);
    const std::size_t end = next == std::sregex_iterator()
                                ? all.size()
                                : static_cast<std::size_t>(next->position()) + 1;
    const std::size_t begin = static_cast<std::size_t>(match.position() + match.length());
    const std::string body = all.substr(begin, end - begin);
    const std::string thread = match[2];
    ASSERT_EQ(expected.count(thread), 1u) << thread;
    const std::size_t index = seen[thread]++;
    ASSERT_LT(index, expected[thread].size());
    const Expected& want = expected[thread][index];
    EXPECT_EQ(match[3], want.level) << thread << " record " << index;
    const std::string text =
        want.text.empty() || want.text.back() != '\n' ? want.text + "\n" : want.text;
    ASSERT_EQ(body, text) << thread << " record " << index;
    EXPECT_GE(match[1].str(), first);
    EXPECT_LE(match[1].str(), last);
    EXPECT_GE(match[1].str(), lastStamp[thread]) << "a thread's records stay in order";
    lastStamp[thread] = match[1];
  }
  ASSERT_EQ(seen.size(), 3u);
  for (const auto& [thread, records] : expected) EXPECT_EQ(seen[thread], records.size()) << thread;
}

// The next run's file continues after the highest number among the files named like log
// files; once finished files pass 16 MiB together, the oldest go (others stay); files older
// than three days went at start-up.
TEST_F(LoggingTest, NumbersContinueAndTheOldestFilesGoPastSixteenMebibytes) {
  const fs::path folder = LogFolder();
  const std::time_t hourAgo = std::time(nullptr) - 3600;
  for (int k = 0; k < 17; ++k) {
    const fs::path old = folder / fmt::format("Hopwell_{:05}.log", k + 3);
    testing::WriteFile(old, "");
    fs::resize_file(old, 1024 * 1024);
    fs::last_write_time(old, hourAgo + k);
  }
  for (const char* other : {"Hopwell_7.log", "Hopwell_00099.txt", "notes.log", "Hopwell_x.log"}) {
    testing::WriteFile(folder / other, "not a log");
  }
  // At start-up any file older than three days goes, whatever its name.
  for (const auto& [name, days] :
       {std::pair{"old.dmp", 4}, std::pair{"Hopwell_00001.log", 4}, std::pair{"recent.dmp", 2}}) {
    testing::WriteFile(folder / name, "x");
    fs::last_write_time(folder / name, std::time(nullptr) - days * 86400);
  }
  if (fs::space(folder).available < 300u * 1024 * 1024) GTEST_SKIP() << "the volume is nearly full";
  InitLogging(folder);
  LogSource log;
  const std::string filler(200, 'x');
  for (int i = 0; i < 6000; ++i) HW_LOG(log, info) << "line " << i << " " << filler;
  FlushLog();

  EXPECT_TRUE(fs::exists(folder / "Hopwell_00020.log"));
  EXPECT_TRUE(fs::exists(folder / "Hopwell_00021.log"));
  // 17 MiB and the new 1 MiB: the two oldest make room.
  EXPECT_FALSE(fs::exists(folder / "Hopwell_00003.log"));
  EXPECT_FALSE(fs::exists(folder / "Hopwell_00004.log"));
  EXPECT_TRUE(fs::exists(folder / "Hopwell_00005.log"));
  for (const char* other : {"Hopwell_7.log", "Hopwell_00099.txt", "notes.log", "Hopwell_x.log"}) {
    EXPECT_TRUE(fs::exists(folder / other)) << other;
  }
  EXPECT_FALSE(fs::exists(folder / "old.dmp"));
  EXPECT_FALSE(fs::exists(folder / "Hopwell_00001.log"));
  EXPECT_TRUE(fs::exists(folder / "recent.dmp"));
}

// A process that exits while threads log loses none of their records and collects its file
// (the last rotation); the child is this test run again, logging into the parent's folder.
TEST_F(LoggingTest, NothingIsLostAtExitAndTheLastFileIsCollected) {
  const char* given = std::getenv("HOPWELL_EXIT_TEST_FOLDER");
  const fs::path folder = given != nullptr ? fs::path(given) : dir_ / "exit";
  ScopedEnv handOn("HOPWELL_EXIT_TEST_FOLDER", folder.string());
  if (given == nullptr) {
    fs::create_directories(folder);
    for (int k = 0; k < 16; ++k) {
      const fs::path old = folder / fmt::format("Hopwell_{:05}.log", k);
      testing::WriteFile(old, "");
      fs::resize_file(old, 1024 * 1024);
      fs::last_write_time(old, std::time(nullptr) - 3600 + k);
    }
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        InitLogging(folder);
        auto writer = [] {
          LogSource log;
          for (int i = 0; i < 3000; ++i) HW_LOG(log, info) << "record " << i;
        };
        std::thread a(writer);
        std::thread b(writer);
        a.join();
        b.join();
        LogSource log;
        HW_LOG(log, info) << "last words";
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  const std::string written = ReadFile(folder / "Hopwell_00016.log");
  std::size_t records = 0;
  for (std::size_t at = written.find("<info> record "); at != std::string::npos;
       at = written.find("<info> record ", at + 1)) {
    ++records;
  }
  EXPECT_EQ(records, 6000u);
  EXPECT_NE(written.find("<info> last words\n"), std::string::npos);
  if (fs::space(folder).available >= 300u * 1024 * 1024) {
    EXPECT_FALSE(fs::exists(folder / "Hopwell_00000.log")) << "the exit's rotation collects";
    EXPECT_TRUE(fs::exists(folder / "Hopwell_00001.log"));
  }
}

// Without FlushLog: a warning is in the file when the statement returns (with what was
// logged before it); a later info record arrives within the flusher's period, while the
// process logs nothing else (a stuck job).
TEST_F(LoggingTest, RecordsReachTheFileWithoutAnExplicitFlush) {
  InitLogging(LogFolder());
  LogSource log;
  const fs::path file = LogFolder() / "Hopwell_00000.log";
  HW_LOG(log, info) << "before the warning";
  HW_LOG(log, warning) << "the warning";
  const std::string atOnce = ReadFile(file);
  EXPECT_NE(atOnce.find("<info> before the warning\n"), std::string::npos) << atOnce;
  EXPECT_NE(atOnce.find("<warning> the warning\n"), std::string::npos) << atOnce;

  HW_LOG(log, info) << "Sending request";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadFile(file).find("<info> Sending request\n") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline)
        << "the info record never reached the file";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// A log file that cannot be opened leaves the client running, logging to nowhere; the user
// is told once, also when the teller is set after the failure; logging resumes once the file
// can be opened again.
TEST_F(LoggingTest, AFileThatCannotBeOpenedEndsNothingAndIsToldOnce) {
  const fs::path folder = dir_ / "logs";
  fs::create_directories(folder);
  InitLogging(folder);
  fs::remove_all(folder);
  testing::WriteFile(folder, "a file where the log folder was");
  LogSource log;
  EXPECT_NO_THROW(HW_LOG(log, info) << "lost line");
  FlushLog();
  std::vector<std::string> told;
  SetLogFailureHandler([&told](const std::string& text) { told.push_back(text); });
  EXPECT_NO_THROW(HW_LOG(log, info) << "lost line");
  FlushLog();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].rfind("The log file cannot be written, so nothing is logged (", 0), 0u);

  fs::remove(folder);
  fs::create_directories(folder);
  HW_LOG(log, info) << "kept line";
  FlushLog();
  SetLogFailureHandler({});
  std::string written;
  for (const auto& entry : fs::directory_iterator(folder)) written += ReadFile(entry.path());
  EXPECT_NE(written.find("kept line"), std::string::npos);
  EXPECT_EQ(written.find("lost line"), std::string::npos);
  EXPECT_EQ(told.size(), 1u);
}

}  // namespace
}  // namespace hopwell
