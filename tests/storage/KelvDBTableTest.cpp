#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "storage/KelvDB.h"

namespace hopwell {
namespace {

struct GuardedCall {
  const char* name;
  std::function<bool(KelvDB&)> call;  // true when the call reported failure
};

TEST(KelvDBTableTest, EveryGuardedOperationFailsOnAnUninitialisedTable) {
  std::vector<std::string> values{"a"};
  const std::vector<GuardedCall> calls = {
      {"toString", [](KelvDB& t) { return t.toString().empty(); }},
      {"next", [](KelvDB& t) { return !t.next(); }},
      {"previous", [](KelvDB& t) { return !t.previous(); }},
      {"first", [](KelvDB& t) { return !t.first(); }},
      {"last", [](KelvDB& t) { return !t.last(); }},
      {"goTo", [](KelvDB& t) { return !t.goTo(0); }},
      {"move", [](KelvDB& t) { return !t.move(1); }},
      {"getCellByName", [](KelvDB& t) { return t.getCellByName("a", 0).empty(); }},
      {"getCell", [](KelvDB& t) { return t.getCell(0, 0).empty(); }},
      {"getRow", [&](KelvDB& t) { return !t.getRow(0, values); }},
      {"getCurrentRow", [&](KelvDB& t) { return !t.getCurrentRow(values); }},
      {"getColumn", [&](KelvDB& t) { return !t.getColumn(0, values); }},
      {"getParameter", [](KelvDB& t) { return t.getParameter("k").empty(); }},
      {"setParameter", [](KelvDB& t) { return !t.setParameter("k", "v"); }},
      {"setCellByName", [](KelvDB& t) { return !t.setCellByName("a", 0, "v"); }},
      {"setCell", [](KelvDB& t) { return !t.setCell(0, 0, "v"); }},
      {"getColumnCount", [](KelvDB& t) { return t.getColumnCount() == -1; }},
      {"getRowCount", [](KelvDB& t) { return t.getRowCount() == -1; }},
      {"getColumnName", [](KelvDB& t) { return t.getColumnName(0).empty(); }},
      {"setColumnName", [](KelvDB& t) { return !t.setColumnName(0, "a"); }},
      {"hasColumn", [](KelvDB& t) { return !t.hasColumn("a"); }},
      {"getColumnIndex", [](KelvDB& t) { return t.getColumnIndex("a") == KelvDB::kNoColumn; }},
      {"addColumn", [](KelvDB& t) { return !t.addColumn("a"); }},
      {"addEmptyRow", [](KelvDB& t) { return !t.addEmptyRow(); }},
      {"addRow", [&](KelvDB& t) { return !t.addRow(values); }},
      {"deleteColumn", [](KelvDB& t) { return !t.deleteColumn(0); }},
      {"deleteRow", [](KelvDB& t) { return !t.deleteRow(0); }},
      {"setMode", [](KelvDB& t) { return !t.setMode("normal"); }},
      {"setName", [](KelvDB& t) { return !t.setName("n"); }},
      {"getName", [](KelvDB& t) { return t.getName().empty(); }},
      {"getMode", [](KelvDB& t) { return t.getMode().empty(); }},
      {"getCurrentRowIndex", [](KelvDB& t) { return t.getCurrentRowIndex() == -1; }},
  };
  for (const auto& [name, call] : calls) {
    KelvDB table;
    EXPECT_TRUE(call(table)) << name;
    EXPECT_EQ(table.getLastError(), "KelvDb not initialized!") << name;
  }
  KelvDB table;
  EXPECT_FALSE(table.isInitialized());
  EXPECT_FALSE(table.hasError());
  EXPECT_FALSE(table.isAtBeginning());
  EXPECT_FALSE(table.isAtEnd());
}

TEST(KelvDBTableTest, CursorMovesAndFlags) {
  KelvDB empty;
  ASSERT_TRUE(empty.create(2, 0));
  EXPECT_EQ(empty.getCurrentRowIndex(), -1);
  EXPECT_TRUE(empty.isAtEnd());
  EXPECT_FALSE(empty.next());
  EXPECT_EQ(empty.getLastError(), "Reached end of KelvDB.");

  KelvDB table;
  ASSERT_TRUE(table.create(1, 3));
  EXPECT_EQ(table.getCurrentRowIndex(), 0);
  EXPECT_TRUE(table.isAtBeginning());
  EXPECT_FALSE(table.isAtEnd());
  EXPECT_FALSE(table.previous());
  EXPECT_EQ(table.getLastError(), "Already at beginning of KelvDB");
  EXPECT_TRUE(table.next());
  EXPECT_FALSE(table.isAtBeginning());
  ASSERT_TRUE(table.last());
  EXPECT_EQ(table.getCurrentRowIndex(), 2);
  EXPECT_FALSE(table.next());
  EXPECT_TRUE(table.isAtEnd());
  EXPECT_TRUE(table.previous());
  EXPECT_FALSE(table.isAtEnd());
  EXPECT_EQ(table.getCurrentRowIndex(), 1);

  EXPECT_FALSE(table.move(-2));  // wraps below row 0
  EXPECT_EQ(table.getLastError(), "Passed end of KelvDB.");
  EXPECT_EQ(table.getCurrentRowIndex(), 1);
  EXPECT_TRUE(table.move(-1));
  EXPECT_TRUE(table.isAtBeginning());
  EXPECT_FALSE(table.goTo(3));
  EXPECT_TRUE(table.goTo(2));
  EXPECT_FALSE(table.isAtBeginning());
  ASSERT_TRUE(table.first());
  EXPECT_TRUE(table.isAtBeginning());
  EXPECT_FALSE(table.isAtEnd());

  KelvDB single;
  ASSERT_TRUE(single.create(1, 1));
  ASSERT_TRUE(single.last());
  EXPECT_TRUE(single.isAtBeginning());
}

TEST(KelvDBTableTest, CellsRowsAndColumns) {
  KelvDB table;
  ASSERT_TRUE(table.create(0, 0));
  ASSERT_TRUE(table.addColumn("Opened"));
  ASSERT_TRUE(table.addColumn("path"));
  EXPECT_FALSE(table.addColumn("OPENED"));
  EXPECT_EQ(table.getLastError(), "A column named 'OPENED' already exist in the database.");
  EXPECT_EQ(table.getColumnName(0), "opened");
  EXPECT_EQ(table.getColumnIndex("OPENED"), 0u);
  EXPECT_EQ(table.getColumnName(1), "path");  // names work on a table without rows
  std::vector<std::string> values;
  EXPECT_FALSE(table.getColumn(0, values));
  EXPECT_EQ(table.getLastError(), "Specified col does not exist.");
  EXPECT_FALSE(table.deleteColumn(0));
  EXPECT_EQ(table.getLastError(), "Invalid colindex.");

  EXPECT_FALSE(table.addRow({"only one"}));
  EXPECT_EQ(table.getLastError(), "The new row does not have the correct dimension.");
  ASSERT_TRUE(table.addRow({"yes", "/a"}));
  ASSERT_TRUE(table.addEmptyRow());
  ASSERT_TRUE(table.setCellByName("Path", 1, "/b"));
  EXPECT_EQ(table.getCellByName("PATH", 1), "/b");
  EXPECT_EQ(table.toString(), "opened|path|\n|yes|/a|\n||/b|");

  table.clearError();
  EXPECT_EQ(table.getCellByName("nope", 0), "");
  EXPECT_EQ(table.getLastError(), "Specified cell does not exist.");
  EXPECT_FALSE(table.setCellByName("nope", 0, "x"));
  EXPECT_EQ(table.getLastError(), "The specified cell (4294967295, 0) does not exist");
  EXPECT_FALSE(table.setCell(2, 0, "x"));
  EXPECT_EQ(table.getLastError(), "The specified cell (2, 0) does not exist");
  EXPECT_FALSE(table.setCell(0, 2, "x"));
  EXPECT_FALSE(table.hasColumn("nope"));
  EXPECT_EQ(table.getLastError(), "No column exists with name 'nope'");
  EXPECT_FALSE(table.getRow(2, values));
  EXPECT_EQ(table.getLastError(), "Specified row does not exist.");
  EXPECT_EQ(table.getColumnName(2), "");
  EXPECT_EQ(table.getLastError(), "The specified column do not exist");

  EXPECT_FALSE(table.setColumnName(1, ""));
  EXPECT_EQ(table.getLastError(), "No valid columnname supplied.");
  EXPECT_FALSE(table.setColumnName(1, "OpeneD"));
  EXPECT_EQ(table.getLastError(), "A column named 'OpeneD' already exists.");
  EXPECT_TRUE(table.setColumnName(0, "OPENED"));  // its own name again
  EXPECT_FALSE(table.setColumnName(2, "new"));    // beyond the last column
  EXPECT_EQ(table.getColumnCount(), 2);

  ASSERT_TRUE(table.getColumn(1, values));
  EXPECT_EQ(values, (std::vector<std::string>{"/a", "/b"}));
  ASSERT_TRUE(table.goTo(1));
  ASSERT_TRUE(table.getCurrentRow(values));
  EXPECT_EQ(values, (std::vector<std::string>{"", "/b"}));

  EXPECT_FALSE(table.deleteRow(2));
  EXPECT_EQ(table.getLastError(), "Invalid rowindex.");
  ASSERT_TRUE(table.deleteRow(0));
  EXPECT_FALSE(table.hasError());
  EXPECT_EQ(table.getCell(1, 0), "/b");
  ASSERT_TRUE(table.deleteRow(0));
  EXPECT_EQ(table.getRowCount(), 0);
  EXPECT_EQ(table.getCurrentRowIndex(), 0);
  ASSERT_TRUE(table.addEmptyRow());
  ASSERT_TRUE(table.deleteColumn(0));
  EXPECT_EQ(table.getColumnName(0), "path");
  EXPECT_EQ(table.getColumnCount(), 1);
}

TEST(KelvDBTableTest, ModesAndParameters) {
  KelvDB table;
  ASSERT_TRUE(table.create(3, 0));
  EXPECT_FALSE(table.setMode("Table"));
  EXPECT_EQ(table.getLastError(), "table is not a valid mode");
  EXPECT_FALSE(table.setMode("PARAM"));
  EXPECT_EQ(table.getLastError(), "Can't change to param mode. Number of columns must be 2");
  EXPECT_FALSE(table.setParameter("k", "v"));
  EXPECT_EQ(table.getLastError(),
            "setParameter(String key, String value) is only available when in parameter-mode.");
  EXPECT_EQ(table.getParameter("k"), "");
  EXPECT_EQ(table.getLastError(),
            "getParameter(String key) is only available when in parameter-mode.");

  ASSERT_TRUE(table.create(2, 1));
  ASSERT_TRUE(table.setMode("PARAM"));
  EXPECT_EQ(table.getMode(), "param");
  EXPECT_FALSE(table.addColumn("x"));
  EXPECT_EQ(table.getLastError(), "Can't add columns in mode param.");
  EXPECT_FALSE(table.deleteColumn(0));
  EXPECT_EQ(table.getLastError(), "Can't delete columns when in param mode.");

  ASSERT_TRUE(table.setParameter("Key", "one"));  // reuses the row with an empty key
  EXPECT_EQ(table.getRowCount(), 1);
  ASSERT_TRUE(table.setParameter("other", "two"));
  EXPECT_FALSE(table.isAtEnd());
  ASSERT_TRUE(table.setParameter("Key", "three"));
  EXPECT_EQ(table.getRowCount(), 2);
  EXPECT_EQ(table.getParameter("Key"), "three");
  EXPECT_EQ(table.getParameter("other"), "two");
  EXPECT_EQ(table.getParameter("key"), "");
  EXPECT_EQ(table.getLastError(), "Specified parameter 'key' not found.");
  EXPECT_EQ(table.getParameter(""), "");
  EXPECT_EQ(table.getLastError(), "No valid key specified.");
}

TEST(KelvDBTableTest, LoadedParamTablesWithOtherColumnCounts) {
  KelvDB wide;
  ASSERT_TRUE(wide.loadFromString("KELVDBF-1\nm=param\ns=3,1\nf=k,v,extra\n--\nc=1:ac=1:bc=1:c"));
  ASSERT_TRUE(wide.setParameter("new", "value"));
  std::vector<std::string> values;
  ASSERT_TRUE(wide.getRow(1, values));  // every column grew with the new row
  EXPECT_EQ(values, (std::vector<std::string>{"new", "value", ""}));
  ASSERT_TRUE(wide.getColumn(2, values));
  EXPECT_EQ(values.size(), 2u);

  KelvDB narrow;
  ASSERT_TRUE(narrow.loadFromString("KELVDBF-1\nm=param\ns=1,1\nf=k\n--\nc=1:a"));
  EXPECT_EQ(narrow.getParameter("a"), "");
  EXPECT_TRUE(narrow.hasError());
  EXPECT_FALSE(narrow.setParameter("a", "b"));
  EXPECT_EQ(narrow.getRowCount(), 1);
}

TEST(KelvDBTableTest, CreateDiscardsEarlierContent) {
  KelvDB table;
  ASSERT_TRUE(table.loadFromString("KELVDBF-1\nm=param\nn=x\ns=2,1\nf=k,v\n--\nc=1:ac=1:b"));
  ASSERT_TRUE(table.create(1, 2));
  EXPECT_EQ(table.getMode(), "normal");
  EXPECT_EQ(table.getName(), "");
  EXPECT_EQ(table.getColumnCount(), 1);
  EXPECT_EQ(table.getCell(0, 1), "");
  EXPECT_EQ(table.getColumnName(0), "");
}

// A load that could not read its input is told apart from one that read text that is no
// table: only the second may be replaced by its caller.
TEST(KelvDBTableTest, ReadFailuresAreToldApartFromMalformedText) {
  testing::TempDir dir;
  testing::WriteFile(dir / "good.cdb", "KELVDBF-1\r\nm=normal\r\ns=1,1\r\nf=a\r\n--\r\nc=1:x\r\n");
  testing::WriteFile(dir / "bad.cdb", "not a table");
  testing::WriteFile(dir / "short.cdb", "KELVDBF-1\r\nm=normal\r\ns=1,2\r\nf=a\r\n--\r\nc=1:x");
  std::istringstream broken("KELVDBF-1");
  broken.setstate(std::ios::badbit);
  const struct {
    const char* name;
    std::function<bool(KelvDB&)> load;
    bool loaded;
    bool readFailed;
  } cases[] = {
      {"good file", [&](KelvDB& t) { return t.load(dir / "good.cdb"); }, true, false},
      {"malformed file", [&](KelvDB& t) { return t.load(dir / "bad.cdb"); }, false, false},
      {"file cut short", [&](KelvDB& t) { return t.load(dir / "short.cdb"); }, false, false},
      {"missing file", [&](KelvDB& t) { return t.load(dir / "none.cdb"); }, false, true},
      // Opens, but every read fails (EISDIR).
      {"unreadable file", [&](KelvDB& t) { return t.load(dir.path()); }, false, true},
      {"unreadable stream", [&](KelvDB& t) { return t.loadFromStream(broken); }, false, true},
      {"malformed string", [](KelvDB& t) { return t.loadFromString("KELVDBF"); }, false, false},
  };
  for (const auto& c : cases) {
    KelvDB table;
    ASSERT_TRUE(table.load(dir / "none.cdb") || table.readFailed());  // a failure before
    EXPECT_EQ(c.load(table), c.loaded) << c.name;
    EXPECT_EQ(table.readFailed(), c.readFailed) << c.name;
    EXPECT_EQ(table.isInitialized(), c.loaded) << c.name;
  }
}

}  // namespace
}  // namespace hopwell
