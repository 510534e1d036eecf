// The clean-up after a confirmed save, on the local folders and the document table alone.
#include "commands/save/SaveCleanup.h"

#include <gtest/gtest.h>
#include <functional>
#include <set>
#include <thread>

#include <boost/filesystem/operations.hpp>

#include "commands/save/SaveLeftovers.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "storage/DocumentTableLock.h"
#include "storage/KelvDB.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ReadFile;
using testing::WriteFile;

using Rows = std::vector<std::vector<std::string>>;

void WriteTable(const std::vector<std::string>& columns, const Rows& rows) {
  KelvDB table;
  ASSERT_TRUE(table.create(0, 0));
  for (const std::string& column : columns) ASSERT_TRUE(table.addColumn(column));
  for (const auto& row : rows) ASSERT_TRUE(table.addRow(row));
  fs::create_directories(AppDataRoot());
  ASSERT_TRUE(table.save(CurrentDocumentsDbPath()));
}

SaveRequest OlderRequest(const std::string& ids, std::int32_t tpvid) {
  SaveRequest request;
  request.ids = ids;
  request.tpvid = tpvid;
  return request;
}

TEST(RemoveRecordRowsTest, RemovesOnlyTheSavedChaptersRows) {
  struct Case {
    const char* name;
    std::vector<std::string> columns;
    Rows rows;
    Rows left;  // empty: the file is gone
    bool rewritten;
  };
  const std::vector<Case> cases = {
      {"first and third",
       {"ids", "tpvid", "path"},
       {{"s", "12", "/a"}, {"s", "13", "/b"}, {"s", "12", "/c"}},
       {{"s", "13", "/b"}},
       true},
      {"only row", {"ids", "tpvid"}, {{"s", "12"}}, {}, true},
      {"no tpvid column", {"ids", "path"}, {{"s", "12"}}, {{"s", "12"}}, false},
      {"no match",
       {"ids", "tpvid"},
       {{"s", "012"}, {"S", "12"}},
       {{"s", "012"}, {"S", "12"}},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteTable(c.columns, c.rows);
    const std::string before = ReadFile(CurrentDocumentsDbPath());
    fs::last_write_time(CurrentDocumentsDbPath(), 1000000);
    RemoveRecordRows(OlderRequest("s", 12));
    if (c.left.empty()) {
      EXPECT_FALSE(fs::exists(CurrentDocumentsDbPath()));
      continue;
    }
    KelvDB table;
    ASSERT_TRUE(table.load(CurrentDocumentsDbPath()));
    ASSERT_EQ(table.getRowCount(), static_cast<std::int32_t>(c.left.size()));
    for (std::uint32_t row = 0; row < c.left.size(); ++row) {
      std::vector<std::string> values;
      ASSERT_TRUE(table.getRow(row, values));
      EXPECT_EQ(values[0], c.left[row][0]);
      EXPECT_EQ(values[1], c.left[row][1]);
    }
    EXPECT_EQ(fs::last_write_time(CurrentDocumentsDbPath()) != 1000000, c.rewritten);
  }
  fs::remove(CurrentDocumentsDbPath());
  testing::LogCapture log;
  RemoveRecordRows(OlderRequest("s", 12));
  EXPECT_TRUE(log.HasFragment("info", "CurrentDocuments.cdb\" does not exist"));
}

TEST(RemoveRecordRowsTest, WaitsForTheTableLockAndKeepsARowRecordedMeanwhile) {
  WriteTable({"ids", "tpvid"}, {{"s", "12"}});
  std::thread remover;
  {
    DocumentTableLock lock(CurrentDocumentsDbPath());
    remover = std::thread([] { RemoveRecordRows(OlderRequest("s", 12)); });
    // What an open recording another chapter writes while it holds the lock.
    WriteTable({"ids", "tpvid"}, {{"s", "12"}, {"s", "13"}});
  }
  remover.join();
  KelvDB table;
  ASSERT_TRUE(table.load(CurrentDocumentsDbPath()));
  ASSERT_EQ(table.getRowCount(), 1);
  EXPECT_EQ(table.getCellByName("tpvid", 0), "13");
}

TEST(RemoveWorkingFolderTest, TheSpaceFolderGoesWithItsLastChapter) {
  SaveRequest first = OlderRequest("space", 1);
  SaveRequest second = OlderRequest("space", 2);
  second.isCurrentFormat = true;
  second.workingFolderName = "2";
  WriteFile(TempRoot() / "space" / "1" / "doc.indd", "1");
  WriteFile(TempRoot() / "space" / "2" / "Links" / "a.png", "2");

  testing::LogCapture log;
  RemoveWorkingFolder(first);
  EXPECT_FALSE(fs::exists(TempRoot() / "space" / "1"));
  EXPECT_TRUE(log.HasFragment("info", "Keeping directory "));
  RemoveWorkingFolder(second);
  EXPECT_FALSE(fs::exists(TempRoot() / "space"));
  EXPECT_TRUE(fs::exists(TempRoot()));
}

TEST(DeleteListedFilesTest, OnlyFilesInTheTemporaryRootAreDeleted) {
  testing::TempDir outside;
  WriteFile(outside / "mine.txt", "keep");
  WriteFile(TempRoot() / "space" / "1" / "doc.indd", "go");
  fs::create_symlink(outside / "mine.txt", TempRoot() / "space" / "1" / "link.txt");
  // A link outside the root that points into it: deleting it would delete outside the root.
  WriteFile(TempRoot() / "space" / "1" / "in.txt", "in");
  fs::create_symlink(TempRoot() / "space" / "1" / "in.txt", outside / "in-link.txt");
  SaveRequest request;
  request.archives.push_back(
      {"",
       {},
       0,
       "",
       {{"INDD", "doc.indd", (TempRoot() / "space/1/doc.indd").string(), 2},
        {"TXT", "mine.txt", (outside / "mine.txt").string(), 4},
        {"TXT", "link.txt", (TempRoot() / "space/1/link.txt").string(), 4},
        {"TXT", "in-link.txt", (outside / "in-link.txt").string(), 2},
        {"TXT", "gone.txt", (TempRoot() / "space/1/gone.txt").string(), 4}}});
  testing::LogCapture log;
  DeleteListedFiles(request);
  EXPECT_FALSE(fs::exists(TempRoot() / "space" / "1" / "doc.indd"));
  EXPECT_EQ(ReadFile(outside / "mine.txt"), "keep");
  EXPECT_TRUE(fs::is_symlink(TempRoot() / "space" / "1" / "link.txt"));
  EXPECT_TRUE(fs::is_symlink(outside / "in-link.txt"));
  EXPECT_EQ(ReadFile(TempRoot() / "space" / "1" / "in.txt"), "in");
  EXPECT_FALSE(log.HasFragment("info", "gone.txt"));
}

// The working folder goes without anything being removed through a link: a space or chapter
// folder that is a link stays (and so does what it points to); a link inside goes as a link.
// The client's own folders are never a space.
TEST(RemoveWorkingFolderTest, NeverRemovesThroughALinkNorTheClientsOwnFolders) {
  testing::TempDir outside;
  const fs::path root = TempRoot();
  const struct {
    const char* name;
    std::string ids;
    std::function<void()> arrange;
    std::vector<fs::path> kept;
    std::vector<fs::path> gone;
  } cases[] = {
      {"space is a link",
       "space",
       [&] {
         WriteFile(outside / "s" / "1" / "keep", "k");
         fs::create_directories(root);
         fs::create_symlink(outside / "s", root / "space");
       },
       {outside / "s" / "1" / "keep", root / "space"},
       {}},
      {"chapter is a link",
       "space",
       [&] {
         WriteFile(outside / "c" / "keep", "k");
         fs::create_directories(root / "space");
         fs::create_symlink(outside / "c", root / "space" / "1");
       },
       {outside / "c" / "keep", root / "space" / "1"},
       {}},
      {"link inside the chapter",
       "space",
       [&] {
         WriteFile(outside / "i" / "keep", "k");
         WriteFile(root / "space" / "1" / "sub" / "doc.indd", "d");
         fs::create_symlink(outside / "i", root / "space" / "1" / "sub" / "ext");
       },
       {outside / "i" / "keep"},
       {root / "space"}},
      {"the client's upload folder",
       "upload",
       [&] { WriteFile(root / "upload" / "1" / "cgu_1.xml", "r"); },
       {root / "upload" / "1" / "cgu_1.xml"},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root);
    fs::remove_all(outside.path());
    fs::create_directories(outside.path());
    c.arrange();
    RemoveWorkingFolder(OlderRequest(c.ids, 1));
    for (const fs::path& path : c.kept) EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << path;
    for (const fs::path& path : c.gone) EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
  }
}

// A clean-up cut short after a confirmed check-in is finished by the next start, unless a
// save of the document runs or waits; a listed file changed since keeps its folder.
TEST(CheckinRecordTest, NextStartFinishesTheCleanUpAndLeavesChangedFilesAlone) {
  const fs::path working = TempRoot() / "space" / "12";
  const fs::path archive = UploadFolder("7", "key") / "cgu_7_0.zip";
  SaveRequest request = OlderRequest("space", 12);
  request.isCurrentFormat = true;
  request.workingFolderName = "12";
  request.checkinRecord = CheckinRecordPath("7");
  request.archives.push_back({"cgu_7_0.zip", archive, 0, "", {}});
  for (const char* name : {"doc.indd", "b.png"}) {
    request.archives[0].files.push_back({"", name, (working / name).string(), 1});
  }
  const struct {
    const char* name;
    std::function<void()> meanwhile;
    bool finished;
    std::vector<fs::path> kept;
  } cases[] = {
      {"untouched", [] {}, true, {}},
      {"a file changed",
       [&] { WriteFile(working / "b.png", "edited"); },
       true,
       {working / "b.png"}},
      {"a request waits",
       [] { WriteFile(UploadFolder("7", "key") / "cgu_7.xml", "<r/>"); },
       false,
       {working / "doc.indd", working / "b.png", archive}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(TempRoot());
    WriteFile(working / "doc.indd", "d");
    WriteFile(working / "b.png", "b");
    WriteFile(archive, "zip");
    ASSERT_TRUE(WriteCheckinRecord(request));
    c.meanwhile();
    FinishInterruptedSaves();
    EXPECT_EQ(fs::exists(request.checkinRecord), !c.finished);
    EXPECT_EQ(fs::exists(working), !c.kept.empty());
    for (const fs::path& path : c.kept) EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(fs::exists(archive), !c.finished);
  }
}

TEST(RemoveEarlierArchivesTest, OnlyTheDocumentsOwnArchiveNames) {
  const fs::path folder = UploadFolder("", "");
  fs::remove_all(folder);
  for (const char* name : {"cgu_7_0.zip", "cgu_7_12.zip", "cgu_7_1_0.zip", "cgu_7_.zip",
                           "cgu_7_0.zip.keep", "cgu_70_0.zip", "cgu_7.xml"}) {
    WriteFile(folder / name, "x");
  }
  RemoveEarlierArchives(folder, "7");
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) {
    left.insert(entry.path().filename().string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"cgu_7_1_0.zip", "cgu_7_.zip", "cgu_7_0.zip.keep",
                                         "cgu_70_0.zip", "cgu_7.xml"}));
}

}  // namespace
}  // namespace hopwell
