#include <sstream>

#include <gtest/gtest.h>

#include "ArchiveTools.h"
#include "common/TempDir.h"
#include "storage/KelvDB.h"

namespace hopwell {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::string WithLineEnds(std::string text, const std::string& lineEnd) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += lineEnd;
    } else {
      out += c;
    }
  }
  return out;
}

// The header and the separators between cells, written by hand with a chosen line end.
const std::string kTable =
    "KELVDBF-7\n"
    "; a comment\n"
    "m=NORMAL\n"
    "; another comment\n"
    "x=unknown key\n"
    "n=Current Documents\n"
    "s=99,2\n"
    "f=Opened,PersonID,note\n"
    "--\n"
    "c=3:abcc=0:\n\nc=1:z\n"
    "c=2:xy\nc=5:12345\nc=1:-\n";

class LineEndTest : public ::testing::TestWithParam<const char*> {};

TEST_P(LineEndTest, ReadsTheSameTableFromEveryLineEnd) {
  KelvDB table;
  testing::KeepFuzzSeed("kelvdb", WithLineEnds(kTable, GetParam()));
  ASSERT_TRUE(table.loadFromString(WithLineEnds(kTable, GetParam()))) << table.getLastError();
  EXPECT_EQ(table.getMode(), "normal");
  EXPECT_EQ(table.getName(), "Current Documents");
  EXPECT_EQ(table.getColumnCount(), 3);  // from "f", not from "s"
  EXPECT_EQ(table.getRowCount(), 2);
  EXPECT_EQ(table.getColumnName(0), "opened");
  EXPECT_EQ(table.getColumnName(1), "personid");
  const std::vector<std::vector<std::string>> expected = {{"abc", "", "z"}, {"xy", "12345", "-"}};
  for (std::uint32_t row = 0; row < 2; ++row) {
    std::vector<std::string> values;
    ASSERT_TRUE(table.getRow(row, values));
    EXPECT_EQ(values, expected[row]);
  }
  EXPECT_EQ(table.getCurrentRowIndex(), 0);
  EXPECT_FALSE(table.isAtEnd());
  EXPECT_FALSE(table.hasError());
}

INSTANTIATE_TEST_SUITE_P(Kinds, LineEndTest, ::testing::Values("\n", "\r", "\r\n"));

TEST(KelvDBReaderTest, CellsHoldLineBreaksCountedByTheirLength) {
  KelvDB table;
  ASSERT_TRUE(table.loadFromString(
      "KELVDBF-1\nm=param\nf=key,value\ns=2,2\n--\nc=1:k\nc=4:a\nb\rc=2:k2c=3:\r\n\n"));
  EXPECT_EQ(table.getCell(1, 0), "a\nb\r");
  EXPECT_EQ(table.getCell(0, 1), "k2");
  EXPECT_EQ(table.getCell(1, 1), "\r\n\n");  // strings are not translated
  EXPECT_EQ(table.getParameter("k"), "a\nb\r");
}

TEST(KelvDBReaderTest, FilesHaveTheirCrLfTurnedIntoLf) {
  TempDir dir;
  WriteFile(dir / "t.cdb",
            "KELVDBF-2\r\nm=normal\r\nf=a\r\ns=1,2\r\n--\r\nc=3:x\r\ny\r\nc=2:\r\r\r\n");
  KelvDB table;
  ASSERT_TRUE(table.load(dir / "t.cdb")) << table.getLastError();
  EXPECT_EQ(table.getCell(0, 0), "x\ny");
  EXPECT_EQ(table.getCell(0, 1), "\r\r");  // a lone CR stays
}

TEST(KelvDBReaderTest, EmptyTableAndHeaderVariants) {
  KelvDB table;
  ASSERT_TRUE(table.loadFromString("KELVDBF-2\nm=Param\ns=0,0\nf=\n--\n"));
  EXPECT_EQ(table.getMode(), "param");
  EXPECT_EQ(table.getName(), "");  // no "n" line
  EXPECT_EQ(table.getColumnCount(), 1);
  EXPECT_EQ(table.getColumnName(0), "");
  EXPECT_EQ(table.getRowCount(), 0);
  EXPECT_TRUE(table.isAtEnd());
  EXPECT_TRUE(table.isAtBeginning());

  ASSERT_TRUE(
      table.loadFromString("KELVDBF-2\nm=normal\ns=+1,+1\nf=a,,B,c\n--\nc=+1:qc=0:c=0:c=0:"));
  EXPECT_EQ(table.getColumnCount(), 4);
  EXPECT_EQ(table.getColumnName(1), "");
  EXPECT_EQ(table.getColumnName(2), "b");
  EXPECT_EQ(table.getCell(0, 0), "q");
  // Bytes after the last cell are not read.
  ASSERT_TRUE(table.loadFromString("KELVDBF-\nm=normal\ns=1,1\nf=a\n--\nc=1:qgarbage"));
}

TEST(KelvDBReaderTest, RepeatedKeys) {
  KelvDB table;
  // A repeated optional name is reported but the load succeeds with the first value.
  ASSERT_TRUE(table.loadFromString("KELVDBF-1\nn=first\nm=normal\nn=second\ns=1,0\nf=a\n--\n"));
  EXPECT_EQ(table.getLastError(), "name defined twice");
  EXPECT_EQ(table.getName(), "first");
  // A repeated required key counts as missing; a third occurrence is applied again.
  EXPECT_FALSE(table.loadFromString("KELVDBF-1\nm=normal\nm=normal\ns=1,0\nf=a\n--\n"));
  EXPECT_EQ(table.getLastError(), "Couldn't read header.");
  ASSERT_TRUE(table.loadFromString("KELVDBF-1\nm=normal\nm=x\nm=param\ns=1,0\nf=a,b\n--\n"));
  EXPECT_EQ(table.getMode(), "param");
  EXPECT_EQ(table.getLastError(), "mode defined twice");
}

struct BadInput {
  const char* label;
  std::string text;
  std::string error;
};

const std::string kHead = "KELVDBF-1\nm=normal\ns=2,1\nf=a,b\n--\n";

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputTest, FailsCleanlyAndLeavesTheTableUninitialised) {
  KelvDB table;
  ASSERT_TRUE(table.create(1, 1));
  testing::KeepFuzzSeed("kelvdb", GetParam().text);
  EXPECT_FALSE(table.loadFromString(GetParam().text));
  EXPECT_EQ(table.getLastError(), GetParam().error);
  EXPECT_FALSE(table.isInitialized());
  EXPECT_EQ(table.getRowCount(), -1);
  EXPECT_EQ(table.getLastError(), "KelvDb not initialized!");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInputTest,
    ::testing::Values(
        BadInput{"Short", "KELVDB", "Couldn't read the header of the file."},
        BadInput{"Empty", "", "Couldn't read the header of the file."},
        BadInput{"WrongMagic", "KELVDBX-1\n", "The specified file is not a valid KelvDB-file."},
        BadInput{"NoLineBreak", "KELVDBF-1",
                 "Didn't find any linebreak. The specified file is not a KelvDB"},
        BadInput{"NoSeparator", "KELVDBF-1\nm=normal\ns=1,0\nf=a\n", "Couldn't read header."},
        BadInput{"EmptyLine", "KELVDBF-1\nm=normal\n\ns=1,0\nf=a\n--\n", "Couldn't read header."},
        BadInput{"NoEquals", "KELVDBF-1\nm=normal\ns=1,0\nf:a\n--\n", "Couldn't read header."},
        BadInput{"UnknownMode", "KELVDBF-1\nm=table\ns=1,0\nf=a\n--\n", "Couldn't read header."},
        BadInput{"NoMode", "KELVDBF-1\ns=1,0\nf=a\n--\n", "Couldn't read header."},
        BadInput{"NoFields", "KELVDBF-1\nm=normal\ns=1,0\n--\n", "Couldn't read header."},
        BadInput{"SizeOnePart", "KELVDBF-1\nm=normal\ns=1\nf=a\n--\n", "Couldn't read header."},
        BadInput{"SizeThreeParts", "KELVDBF-1\nm=normal\ns=1,2,3\nf=a\n--\n",
                 "Couldn't read header."},
        BadInput{"FieldsTwice", "KELVDBF-1\nm=normal\ns=1,0\nf=a\nf=b\n--\n",
                 "Couldn't read header."},
        BadInput{"SizeNotNumber", "KELVDBF-1\nm=normal\ns=x,0\nf=a\n--\n",
                 "Invalid size in header."},
        BadInput{"RowsNotNumber", "KELVDBF-1\nm=normal\ns=1,1e3\nf=a\n--\n",
                 "Invalid size in header."},
        BadInput{"RowsNegative", "KELVDBF-1\nm=normal\ns=1,-4\nf=a\n--\n",
                 "Invalid size in header."},
        BadInput{"RowsOverflow", "KELVDBF-1\nm=normal\ns=1,2147483648\nf=a\n--\n",
                 "Invalid size in header."},
        BadInput{"NoCells", kHead, "Syntax error. EOF reached."},
        BadInput{"OneCellShort", kHead + "c=1:x\r\n", "Syntax error. EOF reached."},
        BadInput{"WrongStart", kHead + "d=1:x", "Syntax error. Unexpected character: d"},
        BadInput{"NoEqualsInCell", kHead + "c:1:x", "Syntax error in KelvDB at byte: "},
        BadInput{"CAtEnd", kHead + "c", "Syntax error in KelvDB at byte: "},
        BadInput{"NoColon", kHead + "c=12", "Error while reading length of cell"},
        BadInput{"NegativeLength", kHead + "c=-1:x", "Didn't find any length of cell"},
        BadInput{"LengthNotNumber", kHead + "c=x1:x", "Invalid length of cell."},
        BadInput{"LengthEmpty", kHead + "c=:x", "Invalid length of cell."},
        BadInput{"LengthWithBlank", kHead + "c= 1:x", "Invalid length of cell."},
        BadInput{"LengthOverflow", kHead + "c=99999999999999999999:x", "Invalid length of cell."},
        BadInput{"LyingLength", kHead + "c=9223372036854775807:x", "can not readContents"},
        BadInput{"LengthPastEnd", kHead + "c=3:ab", "can not readContents"},
        BadInput{"LyingRowCount", "KELVDBF-1\nm=normal\ns=1,2147483647\nf=a\n--\nc=0:",
                 "Syntax error. EOF reached."}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(KelvDBReaderTest, UnreadableSources) {
  KelvDB table;
  std::istringstream broken("KELVDBF-1\n");
  broken.setstate(std::ios::failbit);
  EXPECT_FALSE(table.loadFromStream(broken));
  EXPECT_EQ(table.getLastError(), "Unable to read from stream");
  TempDir dir;
  EXPECT_FALSE(table.load(dir / "missing.cdb"));
  EXPECT_EQ(table.getLastError(), "Unable to read from stream");
  EXPECT_FALSE(table.load(dir.path()));  // a folder is not a table
  EXPECT_FALSE(table.isInitialized());

  std::istringstream good("KELVDBF-1\nm=normal\ns=1,1\nf=a\n--\nc=2:ok");
  ASSERT_TRUE(table.loadFromStream(good));
  EXPECT_EQ(table.getCell(0, 0), "ok");
}

// Every prefix of a valid table fails (or succeeds) without crashing, and never leaves a
// half-loaded table behind.
TEST(KelvDBReaderTest, EveryTruncationFailsCleanly) {
  const std::string text = kHead + "c=3:a\nbc=0:";
  KelvDB table;
  for (std::size_t length = 0; length < text.size(); ++length) {
    EXPECT_FALSE(table.loadFromString(text.substr(0, length))) << length;
    EXPECT_FALSE(table.isInitialized());
  }
  EXPECT_TRUE(table.loadFromString(text));
}

}  // namespace
}  // namespace hopwell
