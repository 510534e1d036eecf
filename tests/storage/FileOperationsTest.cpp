#include "storage/FileOperations.h"

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <zlib.h>
#include <boost/filesystem/operations.hpp>

#include "common/LogCapture.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::LogCapture;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(UniquePathTest, SuffixGoesAfterTheWholeNameAndNothingIsGuessed) {
  TempDir dir;
  boost::system::error_code error;
  EXPECT_EQ(UniquePath(dir / "a.indd", error), dir / "a.indd");
  WriteFile(dir / "a.indd", "x");
  EXPECT_EQ(UniquePath(dir / "a.indd", error), dir / "a.indd_0");
  fs::create_directory(dir / "a.indd_0");
  fs::create_symlink(dir / "nowhere", dir / "a.indd_1");  // a dangling link takes the name too
  EXPECT_EQ(UniquePath(dir / "a.indd", error), dir / "a.indd_2");
  EXPECT_FALSE(error);

  // Looking at a name fails with something else than "not found" (a link loop, a name too
  // long): the name may be taken, so there is no answer.
  fs::create_symlink(dir / "loop", dir / "loop");
  for (const fs::path& path : {dir / "loop" / "x", dir / std::string(300, 'n')}) {
    EXPECT_EQ(UniquePath(path, error), fs::path()) << path;
    EXPECT_TRUE(error) << path;
    EXPECT_FALSE(PathExists(path, error)) << path;
    EXPECT_TRUE(error) << path;
  }
  EXPECT_FALSE(PathExists(dir / "missing" / "x", error));
  EXPECT_FALSE(error);
}

TEST(CopyFolderTest, CopiesRecursivelyAndReplaces) {
  TempDir dir;
  WriteFile(dir / "src" / "top.txt", "new top");
  WriteFile(dir / "src" / "sub" / "deep" / "leaf.bin", std::string("\0\1\2", 3));
  WriteFile(dir / "dst" / "top.txt", "old top");
  WriteFile(dir / "dst" / "keep.txt", "kept");
  // A folder in the way of a file is replaced whole.
  WriteFile(dir / "src" / "clash", "file now");
  WriteFile(dir / "dst" / "clash" / "inner.txt", "folder before");

  ASSERT_TRUE(CopyFolder(dir / "src", dir / "dst"));
  EXPECT_EQ(ReadFile(dir / "dst" / "top.txt"), "new top");
  EXPECT_EQ(ReadFile(dir / "dst" / "sub" / "deep" / "leaf.bin"), std::string("\0\1\2", 3));
  EXPECT_EQ(ReadFile(dir / "dst" / "keep.txt"), "kept");
  EXPECT_EQ(ReadFile(dir / "dst" / "clash"), "file now");
}

TEST(CopyFolderTest, MissingSourceFailsWithWarning) {
  TempDir dir;
  LogCapture log;
  EXPECT_FALSE(CopyFolder(dir / "missing", dir / "dst"));
  EXPECT_TRUE(log.HasFragment("warning", "Error copying "));
}

TEST(RemovePathTest, MissingCountsAsRemoved) {
  TempDir dir;
  LogCapture log;
  EXPECT_TRUE(RemovePath(dir / "nothing"));
  const auto records = log.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].severity, "trace");
  WriteFile(dir / "tree" / "a" / "b.txt", "x");
  EXPECT_TRUE(RemovePath(dir / "tree"));
  EXPECT_FALSE(fs::exists(dir / "tree"));
}

TEST(RemovePathTest, UnremovableReportsError) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  TempDir dir;
  WriteFile(dir / "locked" / "f.txt", "x");
  ::chmod((dir / "locked").c_str(), 0500);
  LogCapture log;
  EXPECT_FALSE(RemovePath(dir / "locked"));
  EXPECT_TRUE(log.HasFragment("error", "Failed to remove "));
  ::chmod((dir / "locked").c_str(), 0700);
}

TEST(CreateFolderTest, ExistingIsSilentAndBlockedFails) {
  TempDir dir;
  {
    LogCapture log;
    EXPECT_TRUE(CreateFolder(dir.path()));
    EXPECT_TRUE(log.Records().empty());
  }
  EXPECT_TRUE(CreateFolder(dir / "a" / "b" / "c"));
  EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
  WriteFile(dir / "file", "x");
  LogCapture log;
  EXPECT_FALSE(CreateFolder(dir / "file" / "sub"));
  EXPECT_TRUE(log.HasFragment("error", "Failed to create folder "));
}

TEST(FileCrc32Test, MatchesZlibAcrossBlockBoundaries) {
  TempDir dir;
  for (std::size_t size : {0u, 1u, 8191u, 8192u, 8193u, 100000u}) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + 7) % 251);
    WriteFile(dir / "f.bin", data);
    const uLong expected =
        crc32(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), data.size());
    EXPECT_EQ(FileCrc32(dir / "f.bin"), expected) << size;
  }
  EXPECT_EQ(FileCrc32(dir / "f.bin"), FileCrc32(dir / "f.bin"));
  WriteFile(dir / "known", "123456789");
  EXPECT_EQ(FileCrc32(dir / "known"), 0xCBF43926u);
}

TEST(FileCrc32Test, UnreadableGivesZeroAndLogs) {
  TempDir dir;
  LogCapture log;
  EXPECT_EQ(FileCrc32(dir / "missing"), 0u);
  EXPECT_TRUE(log.HasFragment("error", "Failed to open "));
}

TEST(OpenFileTest, OpensAndFails) {
  TempDir dir;
  WriteFile(dir / "f", "abc");
  FileHandle file = OpenFile(dir / "f", "rb");
  ASSERT_TRUE(file);
  char buffer[4] = {};
  EXPECT_EQ(std::fread(buffer, 1, 3, file.get()), 3u);
  EXPECT_FALSE(OpenFile(dir / "missing", "rb"));
}

}  // namespace
}  // namespace hopwell
