#include "support/CurrentLogFile.h"

#include <ctime>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::TempDir;
using testing::WriteFile;

void Write(const fs::path& path, const std::string& text, std::time_t when) {
  WriteFile(path, text);
  fs::last_write_time(path, when);
}

TEST(CurrentLogFileTest, NewestNonEmptyMatchingFileIsTaken) {
  TempDir dir;
  const std::time_t now = std::time(nullptr);
  Write(dir / "Hopwell_00001.log", "old", now - 300);
  Write(dir / "Hopwell_00002.log", "current", now - 100);
  Write(dir / "Hopwell_00003.log", "", now);  // empty: not a candidate
  Write(dir / "Hopwell_00004.log.bak", "copy", now);
  Write(dir / "xHopwell_00005.log", "prefix", now);
  Write(dir / "Hopwell_0006.log", "four digits", now);
  Write(dir / "Hopwell_000007.log", "six digits", now);
  Write(dir / "hopwell_00008.log", "lower case", now);
  fs::create_directory(dir / "Hopwell_00009.log");
  EXPECT_EQ(NewestLogFileIn(dir.path()), dir / "Hopwell_00002.log");
}

TEST(CurrentLogFileTest, TheDotMatchesAnyCharacter) {
  TempDir dir;
  Write(dir / "Hopwell_00001.log", "a", 1000);
  Write(dir / "Hopwell_00002_log", "b", 2000);
  EXPECT_EQ(NewestLogFileIn(dir.path()), dir / "Hopwell_00002_log");
}

TEST(CurrentLogFileTest, EqualTimesPreferTheGreaterNumber) {
  TempDir dir;
  for (const char* name : {"Hopwell_00003.log", "Hopwell_00010.log", "Hopwell_00007.log"}) {
    Write(dir / name, "x", 5000);
  }
  EXPECT_EQ(NewestLogFileIn(dir.path()), dir / "Hopwell_00010.log");
}

TEST(CurrentLogFileTest, NoCandidateGivesEmpty) {
  TempDir dir;
  EXPECT_TRUE(NewestLogFileIn(dir.path()).empty());
  Write(dir / "Hopwell_00001.log", "", 1);
  Write(dir / "notes.txt", "x", 1);
  EXPECT_TRUE(NewestLogFileIn(dir.path()).empty());
  EXPECT_TRUE(NewestLogFileIn(dir / "missing").empty());
}

}  // namespace
}  // namespace hopwell
