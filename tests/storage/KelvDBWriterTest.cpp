#include <random>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "ArchiveTools.h"
#include "common/TempDir.h"
#include "storage/KelvDB.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(KelvDBWriterTest, WritesTheDocumentedLayoutWithCrLf) {
  TempDir dir;
  KelvDB table;
  ASSERT_TRUE(table.create(2, 1));
  ASSERT_TRUE(table.setName("CurrentDocuments"));
  ASSERT_TRUE(table.setColumnName(0, "Opened"));
  ASSERT_TRUE(table.setColumnName(1, "personid"));
  ASSERT_TRUE(table.setCell(0, 0, "abc"));
  ASSERT_TRUE(table.save(dir / "t.cdb"));
  EXPECT_EQ(ReadFile(dir / "t.cdb"),
            "KELVDBF-2\r\n"
            "; Created by KelvDB 0.5.2 for Hopwell\r\n"
            "m=normal\r\n"
            "n=CurrentDocuments\r\n"
            "s=2,1\r\n"
            "f=opened,personid\r\n"
            "--\r\n"
            "c=3:abc\r\n"
            "c=0:\r\n");
  EXPECT_FALSE(table.hasError());
  // Nothing is left beside the file.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(KelvDBWriterTest, LineBreaksInCellsAreCountedAsOneByteAndWrittenAsCrLf) {
  TempDir dir;
  KelvDB table;
  ASSERT_TRUE(table.create(1, 2));
  ASSERT_TRUE(table.setColumnName(0, "a"));
  ASSERT_TRUE(table.setCell(0, 0, "x\ny"));
  ASSERT_TRUE(table.setCell(0, 1, "\r\n"));
  ASSERT_TRUE(table.save(dir / "t.cdb"));
  const std::string text = ReadFile(dir / "t.cdb");
  EXPECT_NE(text.find("--\r\nc=3:x\r\ny\r\nc=2:\r\r\n\r\n"), std::string::npos) << text;

  KelvDB loaded;
  ASSERT_TRUE(loaded.load(dir / "t.cdb"));
  EXPECT_EQ(loaded.getCell(0, 0), "x\ny");
  EXPECT_EQ(loaded.getCell(0, 1), "\r\n");
}

TEST(KelvDBWriterTest, UnnamedColumnsGetTheFirstFreeGeneratedName) {
  TempDir dir;
  KelvDB table;
  ASSERT_TRUE(table.create(3, 0));
  ASSERT_TRUE(table.setColumnName(1, "GeneratedName0"));
  ASSERT_TRUE(table.save(dir / "t.cdb"));
  EXPECT_EQ(table.getLastError(),
            "Name not set for column: 0\nSetting it to GeneratedName1\n"
            "Name not set for column: 2\nSetting it to GeneratedName2\n");
  EXPECT_EQ(table.getColumnName(0), "generatedname1");
  const std::string text = ReadFile(dir / "t.cdb");
  EXPECT_NE(text.find("s=3,0\r\nf=generatedname1,generatedname0,generatedname2\r\n--\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 4), "--\r\n");  // no rows, nothing after the separator
}

TEST(KelvDBWriterTest, TableWithoutColumnsReadsBackAsOneUnnamedColumn) {
  TempDir dir;
  KelvDB table;
  ASSERT_TRUE(table.create(0, 0));
  ASSERT_TRUE(table.save(dir / "t.cdb"));
  EXPECT_NE(ReadFile(dir / "t.cdb").find("s=0,0\r\nf=\r\n--\r\n"), std::string::npos);
  KelvDB loaded;
  ASSERT_TRUE(loaded.load(dir / "t.cdb"));
  EXPECT_EQ(loaded.getColumnCount(), 1);
}

TEST(KelvDBWriterTest, FailuresLeaveFilesAlone) {
  TempDir dir;
  KelvDB table;
  EXPECT_FALSE(table.save(dir / "t.cdb"));
  EXPECT_EQ(table.getLastError(), "KelvDb not initialized!");
  EXPECT_FALSE(fs::exists(dir / "t.cdb"));

  ASSERT_TRUE(table.create(1, 1));
  table.clearError();
  EXPECT_FALSE(table.save(dir / "missing" / "t.cdb"));
  EXPECT_FALSE(table.hasError());  // an unopenable file leaves the last error as it was

  // A folder in the way: the save fails and leaves no temporary file behind.
  fs::create_directory(dir / "folder.cdb");
  WriteFile(dir / "folder.cdb" / "inside", "keep");
  EXPECT_FALSE(table.save(dir / "folder.cdb"));
  EXPECT_EQ(ReadFile(dir / "folder.cdb" / "inside"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

std::string RandomCell(std::mt19937& random) {
  static const std::string alphabet =
      std::string("ab,=:c-;\r\n\r\n|") + std::string(1, '\0') + "\xc3\xa4\xff";
  std::string cell(random() % 12, ' ');
  for (char& c : cell) c = alphabet[random() % alphabet.size()];
  return cell;
}

// Saved tables read back with every cell intact, and a loaded table saves to the same bytes
// apart from its version line.
TEST(KelvDBWriterTest, RandomTablesRoundTripByteForByte) {
  TempDir dir;
  std::mt19937 random(4711);
  for (int round = 0; round < 40; ++round) {
    const std::uint32_t columns = 1 + random() % 5;
    const std::uint32_t rows = random() % 6;
    KelvDB table;
    ASSERT_TRUE(table.create(columns, rows));
    ASSERT_TRUE(table.setName("round " + std::to_string(round)));
    for (std::uint32_t c = 0; c < columns; ++c) {
      if (random() % 3 != 0) {
        ASSERT_TRUE(table.setColumnName(c, "Col" + std::to_string(c)));
      }
      for (std::uint32_t r = 0; r < rows; ++r) ASSERT_TRUE(table.setCell(c, r, RandomCell(random)));
    }
    ASSERT_TRUE(table.save(dir / "a.cdb"));
    KelvDB loaded;
    ASSERT_TRUE(loaded.load(dir / "a.cdb")) << loaded.getLastError();
    ASSERT_EQ(loaded.getColumnCount(), static_cast<std::int32_t>(columns));
    ASSERT_EQ(loaded.getRowCount(), static_cast<std::int32_t>(rows));
    EXPECT_EQ(loaded.getName(), table.getName());
    for (std::uint32_t c = 0; c < columns; ++c) {
      EXPECT_EQ(loaded.getColumnName(c), table.getColumnName(c));
      for (std::uint32_t r = 0; r < rows; ++r) {
        ASSERT_EQ(loaded.getCell(c, r), table.getCell(c, r)) << round << " " << c << " " << r;
      }
    }
    ASSERT_TRUE(loaded.save(dir / "b.cdb"));
    const std::string first = ReadFile(dir / "a.cdb");
    const std::string second = ReadFile(dir / "b.cdb");
    testing::KeepFuzzSeed("kelvdb", first);
    EXPECT_EQ(first.substr(0, 11), "KELVDBF-2\r\n");
    EXPECT_EQ(second.substr(0, 11), "KELVDBF-1\r\n");
    EXPECT_EQ(first.substr(11), second.substr(11));
  }
}

}  // namespace
}  // namespace hopwell
