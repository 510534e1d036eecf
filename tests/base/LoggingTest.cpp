#include "base/Logging.h"

#include <unistd.h>

#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include <fmt/format.h>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>
#include <boost/log/core.hpp>

#include "base/LogFailure.h"
#include "common/TempDir.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempDir;

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// InitLogging changes process-wide state; ctest runs each test in its own process.
class LoggingTest : public ::testing::Test {
 protected:
  void TearDown() override { boost::log::core::get()->reset_filter(); }
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
  std::vector<std::string> told;
  SetLogFailureHandler([&told](const std::string& text) { told.push_back(text); });
  EXPECT_NO_THROW(HW_LOG(log, info) << "lost line");
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
