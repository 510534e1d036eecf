#include "storage/ZipFiles.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "ArchiveTools.h"
#include "common/TempDir.h"
#include "intake/JobStatus.h"
#include "storage/ZipExtractor.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ReadFile;
using testing::RunCommand;
using testing::RunPython;
using testing::ShellQuote;
using testing::TempDir;
using testing::WriteFile;

// Prints one line per entry as Python's zipfile sees it, and whether its compressed size is
// what zlib's raw deflate at level 6 gives for the source file named alongside.
const char* const kInspect = R"(
import sys, time, zipfile, zlib, os
with zipfile.ZipFile(sys.argv[1]) as archive:
    assert archive.testzip() is None
    sources = sys.argv[2:]
    for info, source in zip(archive.infolist(), sources):
        data = open(source, 'rb').read()
        assert archive.read(info) == data, info.filename
        packer = zlib.compressobj(6, zlib.DEFLATED, -15)
        level6 = len(packer.compress(data) + packer.flush())
        mtime = time.localtime(os.path.getmtime(source))
        same_time = abs(time.mktime(info.date_time + (0, 0, -1)) - time.mktime(mtime)) <= 2
        print(info.filename, info.flag_bits & 0x800 != 0, info.compress_type,
              info.compress_size == level6, info.flag_bits & 6, same_time, len(info.extra))
)";

JobPtr MakeJob() {
  return std::make_shared<JobStatus>(ActionKind::Upload, "save", "kelv:save:1");
}

class ZipFilesTest : public ::testing::Test {
 protected:
  TempDir dir_;
  fs::path archive_ = dir_ / "out.zip";
};

TEST_F(ZipFilesTest, ArchiveIsValidDeflatedAtLevelSixWithUtf8Names) {
  std::string mixed;
  for (int i = 0; mixed.size() < (1u << 20); ++i) {
    mixed += "row " + std::to_string(i) + ";";
    mixed.push_back(static_cast<char>((i * 2654435761u) >> 24));
  }
  WriteFile(dir_ / "in" / "doc.indd", mixed);
  WriteFile(dir_ / "in" / "empty", "");
  WriteFile(dir_ / "in" / "notes.txt", "hello hello hello\n");
  const std::vector<fs::path> sources = {dir_ / "in" / "doc.indd", dir_ / "in" / "empty",
                                         dir_ / "in" / "notes.txt"};
  const std::vector<std::string> names = {"Chapter/doc.indd", "empty",
                                          "Gr\xc3\xbc\xc3\x9f"
                                          "e.txt"};
  JobPtr job = MakeJob();
  job->SetProgress(10);
  ASSERT_TRUE(ZipFiles(sources, names, archive_, 12.5, job));
  EXPECT_EQ(job->GetProgress(), 22.5);
  EXPECT_EQ(job->GetState(), JobState::Waiting);  // not marked failed

  std::string output;
  EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(archive_.string()), &output), 0) << output;
  output.clear();
  std::vector<std::string> arguments = {archive_.string()};
  for (const auto& source : sources) arguments.push_back(source.string());
  ASSERT_EQ(RunPython(kInspect, arguments, &output), 0) << output;
  EXPECT_EQ(output,
            "Chapter/doc.indd True 8 True 0 True 0\n"
            "empty True 8 True 0 True 0\n"
            "Gr\xc3\xbc\xc3\x9f"
            "e.txt True 8 True 0 True 0\n");

  const fs::path unpacked = dir_ / "unpacked";
  ASSERT_TRUE(ZipExtractor(archive_).Extract(true, unpacked));
  EXPECT_EQ(ReadFile(unpacked / "Chapter" / "doc.indd"), mixed);
}

TEST_F(ZipFilesTest, EmptyListGivesAnEmptyValidArchive) {
  JobPtr job = MakeJob();
  ASSERT_TRUE(ZipFiles({}, {}, archive_, 5, job));
  std::string output;
  ASSERT_EQ(RunPython("import zipfile, sys\nprint(len(zipfile.ZipFile(sys.argv[1]).namelist()))",
                      {archive_.string()}, &output),
            0)
      << output;
  EXPECT_EQ(output, "0\n");
  testing::KeepFuzzSeed("zip", ReadFile(archive_));
  EXPECT_EQ(job->GetProgress(), 5);
}

TEST_F(ZipFilesTest, MissingSourcesMarkTheJobAndTheOthersAreStillAdded) {
  WriteFile(dir_ / "a.txt", "a");
  WriteFile(dir_ / "c.txt", "c");
  const fs::path missing = dir_ / "b.txt";
  JobPtr job = MakeJob();
  // The result follows the last file only.
  EXPECT_TRUE(ZipFiles({dir_ / "a.txt", missing, dir_ / "c.txt"}, {"a.txt", "b.txt", "c.txt"},
                       archive_, 1, job));
  EXPECT_EQ(job->GetState(), JobState::Failed);
  EXPECT_EQ(job->LastMessage(), "Error in opening \"" + missing.string() + "\" for reading");
  std::string output;
  ASSERT_EQ(RunPython("import zipfile, sys\nprint(zipfile.ZipFile(sys.argv[1]).namelist())",
                      {archive_.string()}, &output),
            0);
  EXPECT_EQ(output, "['a.txt', 'c.txt']\n");
  testing::KeepFuzzSeed("zip", ReadFile(archive_));

  JobPtr second = MakeJob();
  EXPECT_FALSE(ZipFiles({dir_ / "a.txt", missing}, {"a.txt", "b.txt"}, archive_, 1, second));
  EXPECT_EQ(RunCommand("unzip -t -q " + ShellQuote(archive_.string())), 0);
}

// Every file's outcome is reported: the traditional result follows the last file only, so an
// earlier file that is missing or cannot be read whole shows only in the outcome.
TEST_F(ZipFilesTest, EveryFilesOutcomeIsReported) {
  WriteFile(dir_ / "a.txt", "a");
  WriteFile(dir_ / "c.txt", "c");
  fs::create_directories(dir_ / "folder");  // opens, but every read fails
  const fs::path a = dir_ / "a.txt", c = dir_ / "c.txt", missing = dir_ / "b.txt";
  const fs::path folder = dir_ / "folder";
  const struct {
    const char* name;
    std::vector<fs::path> sources;
    fs::path archive;
    std::vector<std::string> errors;  // per file, empty when added
    std::string archiveError;
    bool lastFileAdded;
  } cases[] = {
      {"all added", {a, c}, archive_, {"", ""}, "", true},
      {"missing first",
       {missing, c},
       archive_,
       {"cannot open it (No such file or directory)", ""},
       "",
       true},
      {"unreadable first",
       {folder, c},
       archive_,
       {"cannot read it whole (Is a directory)", ""},
       "",
       true},
      {"unreadable last",
       {a, folder},
       archive_,
       {"", "cannot read it whole (Is a directory)"},
       "",
       false},
      {"no archive",
       {a},
       dir_ / "no" / "such.zip",
       {},
       "cannot create it (No such file or directory)",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> names;
    for (const fs::path& source : c.sources) names.push_back(source.filename().string());
    JobPtr job = MakeJob();
    const ZipOutcome outcome = ZipEachFile(c.sources, names, c.archive, 1, job);
    EXPECT_EQ(outcome.fileErrors, c.errors);
    EXPECT_EQ(outcome.archiveError, c.archiveError);
    EXPECT_EQ(outcome.LastFileAdded(), c.lastFileAdded);
    const bool all =
        c.archiveError.empty() && std::all_of(c.errors.begin(), c.errors.end(),
                                              [](const std::string& e) { return e.empty(); });
    EXPECT_EQ(outcome.AllAdded(), all);
    EXPECT_EQ(job->GetState(), all ? JobState::Waiting : JobState::Failed);
    EXPECT_EQ(ZipFiles(c.sources, names, c.archive, 1, MakeJob()), c.lastFileAdded);
  }
}

TEST_F(ZipFilesTest, FailuresBeforeAnyFileMarkTheJobAndAddTheShare) {
  WriteFile(dir_ / "a.txt", "a");
  JobPtr job = MakeJob();
  EXPECT_FALSE(ZipFiles({dir_ / "a.txt"}, {"a.txt"}, dir_ / "no" / "such.zip", 7, job));
  EXPECT_EQ(job->LastMessage(), "Error opening \"such.zip\"");
  EXPECT_EQ(job->GetProgress(), 7);

  JobPtr mismatched = MakeJob();
  EXPECT_FALSE(ZipFiles({dir_ / "a.txt"}, {}, archive_, 3, mismatched));
  EXPECT_EQ(mismatched->GetState(), JobState::Failed);
  EXPECT_EQ(mismatched->GetProgress(), 3);
}

TEST(NextArchiveNameTest, TakesTheFirstFreeNumber) {
  TempDir dir;
  EXPECT_EQ(NextArchiveName(dir.path(), "4711"), dir / "cgu_4711_0.zip");
  WriteFile(dir / "cgu_4711_0.zip", "");
  EXPECT_EQ(NextArchiveName(dir.path(), "4711"), dir / "cgu_4711_1.zip");
  fs::create_directory(dir / "cgu_4711_1.zip");
  EXPECT_EQ(NextArchiveName(dir.path(), "4711"), dir / "cgu_4711_2.zip");
  EXPECT_EQ(NextArchiveName(dir.path(), "../x"), fs::path());
  // A name that cannot be looked at may be taken: no name rather than a guess.
  fs::create_symlink(dir / "loop", dir / "loop");
  EXPECT_EQ(NextArchiveName(dir / "loop", "4711"), fs::path());
}

}  // namespace
}  // namespace hopwell
