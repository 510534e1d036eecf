#include "commands/open/DocumentRecord.h"

#include <thread>
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

TEST_F(DocumentRecordTest, UnreadableTableIsStartedAfresh) {
  fs::create_directories(CurrentDocumentsDbPath().parent_path());
  WriteFile(CurrentDocumentsDbPath(), "this is no table");
  auto values = Values("20.0");
  values["jumplocation"] = "http://h/j";
  SetParameters(values);
  ASSERT_TRUE(RecordDocument(command_, *parameters_, Document()));
  KelvDB table;
  ASSERT_TRUE(table.load(CurrentDocumentsDbPath()));
  EXPECT_EQ(table.getName(), "CurrentDocuments");
  EXPECT_EQ(table.getMode(), "normal");
  ASSERT_EQ(table.getRowCount(), 1);
  EXPECT_EQ(table.getCellByName("ssl", 0), "0");
}

TEST_F(DocumentRecordTest, UnremovableUnreadableTableFailsTheJob) {
  // A folder where the table should be cannot be loaded nor removed plainly.
  fs::create_directories(CurrentDocumentsDbPath() / "blocked");
  SetParameters(Values("20.0"));
  EXPECT_FALSE(RecordDocument(command_, *parameters_, Document()));
  EXPECT_EQ(job_.GetState(), JobState::Failed);
  EXPECT_EQ(job_.LastMessage(), "An error occured when saving document meta information.");
}

TEST_F(DocumentRecordTest, ConcurrentOpensKeepEveryRow) {
  constexpr int kOpens = 20;
  std::vector<std::thread> threads;
  for (int i = 0; i < kOpens; ++i) {
    threads.emplace_back([this, i] {
      std::istringstream in(
          "<data><params><param name=\"appversion\" value=\"15\"/>"
          "<param name=\"TPVID\" value=\"T" +
          std::to_string(i) + "\"/></params></data>");
      OpenCmdParameters parameters(in);
      JobStatus job(ActionKind::Download, "Opening...", "kelv:open:test");
      LogSource log;
      CommandContext command{http_, job, log, "t"};
      EXPECT_TRUE(RecordDocument(command, parameters, Document()));
    });
  }
  for (auto& thread : threads) thread.join();
  KelvDB table;
  ASSERT_TRUE(table.load(CurrentDocumentsDbPath()));
  EXPECT_EQ(table.getRowCount(), kOpens);
}

}  // namespace
}  // namespace hopwell::testing
