#include "commands/open/DocumentRecord.h"

#include <functional>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "commands/open/OpenStepsFixture.h"
#include "storage/KelvDB.h"
#include "storage/LocalFolders.h"

namespace hopwell::testing {
namespace {

namespace fs = boost::filesystem;

class DocumentRecordTest : public OpenStepsTest {
 protected:
  std::map<std::string, std::string> Values(const std::string& version) {
    return {{"appversion", version},
            {"appversionstring", "2025"},
            {"appname", "Adobe InDesign"},
            {"personid", "p7"},
            {"jumplocation", "x https://h/j"},
            {"IDS", "S1"},
            {"MEDID", "m2"},
            {"userright", "rp"},
            {"TPVID", "T9"},
            {"OLDTPVID", "T8"},
            {"kelvversion", "5.1"},
            {"documentversion", "3"}};
  }
  fs::path Document() const { return dir_ / "doc" / "My book_v3.indd"; }
};

TEST_F(DocumentRecordTest, RecentApplicationWritesTheXmlFileBesideTheDocument) {
  fs::create_directories(Document().parent_path());
  WriteFile(Document().parent_path() / "CurrentDocumentDB.xml", "old record, longer than the new");
  auto values = Values("21.0");
  values.erase("MEDID");
  SetParameters(values);
  ASSERT_TRUE(RecordDocument(command_, *parameters_, Document()));
  EXPECT_EQ(
      ReadFile(Document().parent_path() / "CurrentDocumentDB.xml"),
      "<?xml version=\"1.0\"?>\n"
      "<root version=\"1.0\">\n"
      "\t<PersonID>p7</PersonID>\n"
      "\t<JumpLocation>x https://h/j</JumpLocation>\n"
      "\t<IDS>S1</IDS>\n"
      "\t<MEDID></MEDID>\n"
      "\t<UserRight>RP</UserRight>\n"
      "\t<TPVID>T9</TPVID>\n"
      "\t<OLDTPVID>T8</OLDTPVID>\n"
      "\t<KelvVersion>5.1</KelvVersion>\n"
      "\t<SaveFileName>My book</SaveFileName>\n"
      "\t<DocumentVersion>3</DocumentVersion>\n"
      "\t<Token>tok en</Token>\n"
      "\t<DocumentInDesignVersionNumberOnServer>21.0</DocumentInDesignVersionNumberOnServer>\n"
      "\t<DocumentInDesignVersionOnServer>2025</DocumentInDesignVersionOnServer>\n"
      "\t<DocumentInDesignApplicationNameOnServer>Adobe "
      "InDesign</DocumentInDesignApplicationNameOnServer>\n"
      "</root>\n");
  EXPECT_FALSE(fs::exists(CurrentDocumentsDbPath()));
}

TEST_F(DocumentRecordTest, OlderApplicationAddsATableRowAndUpgradesOldTables) {
  // An older client's table: the first eleven columns only, one row.
  KelvDB old;
  ASSERT_TRUE(old.create(11, 1));
  const char* names[] = {"Opened",   "personID",    "jumplocation", "ssl",
                         "IDS",      "MEDID",       "userright",    "TPVID",
                         "OLDTPVID", "kelvversion", "savefilename"};
  for (std::uint32_t i = 0; i < 11; ++i) old.setColumnName(i, names[i]);
  old.setMode("normal");
  old.setCell(4, 0, "S0");
  fs::create_directories(CurrentDocumentsDbPath().parent_path());
  ASSERT_TRUE(old.save(CurrentDocumentsDbPath()));

  auto values = Values("20.0");
  values["userright"] = "X";
  SetParameters(values);
  ASSERT_TRUE(RecordDocument(command_, *parameters_, Document()));
  KelvDB table;
  ASSERT_TRUE(table.load(CurrentDocumentsDbPath()));
  ASSERT_EQ(table.getColumnCount(), 16);
  ASSERT_EQ(table.getRowCount(), 2);
  EXPECT_EQ(table.getColumnName(11), "documentversion");
  EXPECT_EQ(table.getColumnName(15), "token");
  EXPECT_EQ(table.getCellByName("ids", 0), "S0");
  std::vector<std::string> row;
  ASSERT_TRUE(table.getRow(1, row));
  row[0] = "time";
  EXPECT_EQ(row, (std::vector<std::string>{"time", "p7", "x https://h/j", "1", "S1", "m2", "", "T9",
                                           "T8", "5.1", "MyXbook", "3", "0", "", "", "tok en"}));
}

TEST_F(DocumentRecordTest, MalformedTableIsStartedAfreshAndItsBytesKept) {
  const fs::path kept = CurrentDocumentsDbPath().string() + ".unreadable";
  fs::create_directories(CurrentDocumentsDbPath().parent_path());
  auto values = Values("20.0");
  values["jumplocation"] = "http://h/j";
  SetParameters(values);
  // One copy beside the table, the latest unreadable one.
  for (const std::string bytes : {"this is no table", "KELVDBF-1\nm=normal\ns=1,9\nf=a\n--\n"}) {
    SCOPED_TRACE(bytes);
    WriteFile(CurrentDocumentsDbPath(), bytes);
    ASSERT_TRUE(RecordDocument(command_, *parameters_, Document()));
    EXPECT_EQ(ReadFile(kept), bytes);
    KelvDB table;
    ASSERT_TRUE(table.load(CurrentDocumentsDbPath()));
    EXPECT_EQ(table.getName(), "CurrentDocuments");
    EXPECT_EQ(table.getMode(), "normal");
    ASSERT_EQ(table.getRowCount(), 1);
    EXPECT_EQ(table.getCellByName("ssl", 0), "0");
  }
}

// A table that cannot be looked at or read whole may hold good rows: it stays as it is, and
// so does a record that cannot be written.
TEST_F(DocumentRecordTest, TablesThatCannotBeReadAndRecordsThatCannotBeWrittenFailTheJob) {
  const fs::path table = CurrentDocumentsDbPath();
  const struct {
    const char* name;
    const char* version;
    std::function<void()> arrange;
    fs::path untouched;
  } cases[] = {
      // Opens, but reading fails (EISDIR).
      {"table unreadable", "20.0", [&] { fs::create_directories(table / "blocked"); },
       table / "blocked"},
      // The table's folder is a link to itself: looking at the table fails with ELOOP.
      {"table cannot be looked at", "20.0",
       [&] { fs::create_symlink(table.parent_path(), table.parent_path()); }, table.parent_path()},
      // The document's folder does not exist: the XML record cannot be written.
      {"record cannot be written", "21.0", [] {}, fs::path()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(table.parent_path());
    fs::create_directories(table.parent_path().parent_path());
    c.arrange();
    JobStatus job(ActionKind::Download, "Opening...", "kelv:open:test");
    CommandContext command{http_, job, log_, "t"};
    SetParameters(Values(c.version));
    EXPECT_FALSE(RecordDocument(command, *parameters_, dir_ / "no" / "such.indd"));
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_EQ(job.LastMessage(), "An error occured when saving document meta information.");
    if (!c.untouched.empty()) {
      EXPECT_TRUE(fs::exists(fs::symlink_status(c.untouched)));
    }
    boost::system::error_code ignored;  // ELOOP in the linked folder: not there either
    EXPECT_FALSE(fs::exists(table.string() + ".unreadable", ignored));
  }
}

}  // namespace
}  // namespace hopwell::testing
