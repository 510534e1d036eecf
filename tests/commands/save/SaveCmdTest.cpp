// The save command against the simulator's can_upload, upload and check-in endpoints.
#include "commands/save/SaveCmd.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>

#include "common/LogCapture.h"
#include "common/SimulatorTest.h"
#include "common/TempDir.h"
#include "storage/KelvDB.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
namespace pt = boost::property_tree;
using testing::ReadFile;
using testing::WriteFile;

std::string RandomBytes(std::size_t size) {
  std::mt19937 generator(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

// Every progress value a job went through, in order.
std::mutex progressLock;
std::vector<double> progressSeen;
void RecordProgress(JobStatus* job) {
  std::lock_guard lock(progressLock);
  const double progress = job->GetProgress();
  if (progressSeen.empty() || progressSeen.back() != progress) progressSeen.push_back(progress);
}

struct ListedFile {
  std::string type;
  std::string name;
  fs::path local;
};

class SaveCmdTest : public testing::SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    fs::remove_all(TempRoot());
    fs::remove_all(AppDataRoot());
    working_ = TempRoot() / "space" / "wf";
    fs::create_directories(working_ / "Links");
    // Random bytes do not shrink: the first archive takes two chunks.
    WriteFile(working_ / "doc.indd", RandomBytes(1500000));
    WriteFile(working_ / "Links" / "img.png", RandomBytes(1000));
    WriteFile(working_ / "doc.pdf", "pdf");
    WriteFile(TempRoot() / "sentinel", "stays");
    progressSeen.clear();
  }

  // The two archives of an ordinary save.
  std::vector<std::vector<ListedFile>> TwoArchives() const {
    return {{{"INDD", "doc.indd", working_ / "doc.indd"},
             {"LINK", "Links/img.png", working_ / "Links" / "img.png"}},
            {{"PDF", "doc.pdf", working_ / "doc.pdf"}}};
  }

  // Writes the request in the current format where the argument "7:key" looks for it.
  void WriteRequest(const std::vector<std::vector<ListedFile>>& archives,
                    const std::string& ids = "space", const std::string& folder = "wf",
                    const std::string& key = "key") {
    std::string text = "<?xml version=\"1.0\"?>\n<SaveRequest version=\"1\"><IDS>" + ids +
                       "</IDS><TPVID>12</TPVID><Token>tok</Token><URL>" + sim_->HttpBase() +
                       "/</URL><AppVersion>21.0</AppVersion><Comment>fixed</Comment>"
                       "<WorkingFolderName>" +
                       folder + "</WorkingFolderName><UploadFilesList>";
    for (const auto& files : archives) {
      text += "<Archive>";
      for (const ListedFile& file : files) {
        text += "<File Type=\"" + file.type + "\" Name=\"" + file.name + "\" Path=\"" +
                file.local.string() + "\" Size=\"" +
                std::to_string(fs::is_regular_file(file.local) ? fs::file_size(file.local) : 0) +
                "\"/>";
      }
      text += "</Archive>";
    }
    fs::create_directories(UploadFolder("7", key));
    WriteFile(UploadFolder("7", key) / "cgu_7.xml", text + "</UploadFilesList></SaveRequest>");
  }

  JobPtr Run(const std::string& argument = "7:key") {
    auto job =
        std::make_shared<JobStatus>(ActionKind::Upload, "Saving...", "kelv:save:" + argument);
    job->SetOnChange(&RecordProgress);
    SaveCmd(argument, job).DoExecute();
    return job;
  }

  void Switch(const std::string& json) { ASSERT_TRUE(sim_->Control("/_sim/save", &json)); }

  pt::ptree Checkins() {
    std::string answer;
    EXPECT_TRUE(sim_->Control("/_sim/checkins", nullptr, &answer));
    std::istringstream in(answer);
    pt::ptree tree;
    pt::read_json(in, tree);
    return tree;
  }

  std::vector<std::string> Paths() {
    std::vector<std::string> paths;
    for (const auto& request : sim_->Requests()) paths.push_back(request.path);
    return paths;
  }

  std::set<std::string> UploadFolderFiles(const std::string& key = "key") {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(UploadFolder("7", key))) {
      if (fs::is_regular_file(entry.path())) names.insert(entry.path().filename().string());
    }
    return names;
  }

  fs::path working_;
};

TEST_F(SaveCmdTest, TwoArchivesAreZippedUploadedCheckedInAndCleanedUp) {
  WriteRequest(TwoArchives());
  // Left by an earlier save that was killed: it goes before this one zips.
  WriteFile(UploadFolder("7", "key") / "cgu_7_0.zip", "left over from an earlier save");
  WriteFile(UploadFolder("7", "key") / "cgu_7_0.zip.mine", "not an archive name of the save");
  // A row of the same chapter in the table form stays: only older requests clean it up.
  KelvDB table;
  ASSERT_TRUE(table.create(0, 0) && table.addColumn("ids") && table.addColumn("tpvid") &&
              table.addRow({"space", "12"}));
  fs::create_directories(AppDataRoot());
  ASSERT_TRUE(table.save(CurrentDocumentsDbPath()));

  const JobPtr job = Run();
  ASSERT_EQ(job->GetState(), JobState::Succeeded) << job->LastMessage();
  EXPECT_EQ(job->Messages(),
            (std::vector<std::string>{"Uploading chapter", "Chapter was successfully checked in"}));
  EXPECT_EQ(job->UploadName(), "doc");
  EXPECT_EQ(job->DocumentName(), "7");
  EXPECT_EQ(progressSeen.back(), 100);
  for (double step : {15.0, 52.5, 90.0}) {
    EXPECT_NE(std::find(progressSeen.begin(), progressSeen.end(), step), progressSeen.end())
        << step;
  }

  const pt::ptree checkins = Checkins();
  ASSERT_EQ(checkins.size(), 1u);
  const pt::ptree& checkin = checkins.begin()->second;
  EXPECT_EQ(checkin.get<std::string>("result.status"), "CHECKIN_FILES_SUCCESS");
  std::vector<std::string> names;
  for (const auto& [key, archive] : checkin.get_child("archives")) {
    EXPECT_EQ(archive.get<std::string>("confirmed"), "true");
    names.push_back(archive.get<std::string>("name"));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"cgu_7_0.zip", "cgu_7_1.zip"}));
  EXPECT_EQ(checkin.get<std::string>("document.chapterVersionComment"), "fixed");

  // One connection carries all chunks of an archive.
  std::map<std::string, std::set<int>> connections;
  for (const auto& request : sim_->Requests()) {
    if (request.path == "/api/v2/ext/upload") {
      connections[request.Param("n").substr(0, 7)].insert(request.connection);
    }
  }
  EXPECT_EQ(Paths().size(), 5u);  // can_upload, 2 + 1 chunks, check-in
  ASSERT_EQ(connections.size(), 2u);
  for (const auto& [archive, used] : connections) EXPECT_EQ(used.size(), 1u) << archive;

  // The request, the archives, the working folder and its space go.
  EXPECT_EQ(UploadFolderFiles(), (std::set<std::string>{"cgu_7_0.zip.mine"}));
  EXPECT_FALSE(fs::exists(TempRoot() / "space"));
  EXPECT_TRUE(fs::exists(TempRoot() / "sentinel"));
  ASSERT_TRUE(table.load(CurrentDocumentsDbPath()));
  EXPECT_EQ(table.getRowCount(), 1);
}

TEST_F(SaveCmdTest, EveryFailureKeepsTheWorkingFilesAndEndsWithItsMessages) {
  struct Case {
    const char* name;
    std::string switches;
    std::string scenario;
    std::vector<std::string> messages;
    bool zipped;
  };
  const std::string notCheckedOut =
      "The chapter is not checked out, and can't be uploaded to the server.";
  const std::vector<Case> cases = {
      {"refused", R"({"can_upload": "false"})", "", {notCheckedOut}, false},
      {"not JSON", R"({"can_upload": "not-json"})", "", {notCheckedOut}, false},
      {"403",
       R"({"can_upload": "403"})",
       "",
       {"The document is not checked out, and cannot be saved to the server"},
       false},
      {"chunk",
       R"({"fail_chunk": 2, "fail_times": 3})",
       "",
       {"Uploading chapter", "Failed to upload"},
       true},
      {"check-in refused",
       "",
       R"({"mode": "body", "path": "/api/v2/ext/checkin", "body": "{\"status\": \"NO\", \"message\": \"Locked by Bea\"}"})",
       {"Uploading chapter", "Locked by Bea", "Server failed to check in the file."},
       true},
      {"check-in not JSON",
       "",
       R"({"mode": "not-json", "path": "/api/v2/ext/checkin"})",
       {"Uploading chapter", "An unkown error occurred during checkin",
        "Server failed to check in the file."},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(sim_->Reset());
    if (!c.switches.empty()) Switch(c.switches);
    if (!c.scenario.empty()) {
      ASSERT_TRUE(sim_->AddScenario(c.scenario));
    }
    WriteRequest(TwoArchives());
    const JobPtr job = Run();
    EXPECT_EQ(job->GetState(), JobState::Failed);
    EXPECT_EQ(job->Messages(), c.messages);
    EXPECT_TRUE(fs::exists(working_ / "doc.indd"));
    EXPECT_TRUE(fs::exists(working_ / "Links" / "img.png"));
    EXPECT_EQ(UploadFolderFiles().size(), c.zipped ? 2u : 0u);
    fs::remove_all(UploadFolder("7", "key"));
  }

  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "drop", "path": "/api/v2/ext/token/can_upload"})"));
  WriteRequest(TwoArchives());
  const JobPtr job = Run();
  EXPECT_EQ(job->LastMessage().rfind("The chapter token is not valid: ", 0), 0u);
}

// A listed file that cannot be read whole (here a folder: it opens, every read fails) fails
// the save with a message naming it, even when it is not the archive's last file and the
// platform would confirm an archive without it: nothing is uploaded, checked in or deleted.
TEST_F(SaveCmdTest, AFileThatCannotBeZippedWholeFailsTheSaveAndKeepsEverything) {
  for (const bool last : {false, true}) {
    SCOPED_TRACE(last ? "last file" : "first file");
    ASSERT_TRUE(sim_->Reset());
    Switch(R"({"check_entries": false})");
    std::vector<ListedFile> first = {{"LINK", "Links", working_ / "Links"},
                                     {"INDD", "doc.indd", working_ / "doc.indd"}};
    if (last) std::swap(first[0], first[1]);
    WriteRequest({first, TwoArchives()[1]});
    const JobPtr job = Run();
    EXPECT_EQ(job->GetState(), JobState::Failed);
    EXPECT_EQ(job->LastMessage(), "Error when zipping \"" + (working_ / "Links").string() +
                                      "\": cannot read it whole (Is a directory)");
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/api/v2/ext/token/can_upload"}));
    EXPECT_EQ(Checkins().size(), 0u);
    EXPECT_TRUE(fs::exists(working_ / "doc.indd"));
    EXPECT_TRUE(fs::exists(working_ / "doc.pdf"));
    EXPECT_EQ(UploadFolderFiles().size(), 2u);  // the archives stay for a look
    fs::remove_all(UploadFolder("7", "key"));
  }
}

TEST_F(SaveCmdTest, HostileListsFailBeforeAnythingIsZipped) {
  testing::TempDir outside;
  WriteFile(outside / "secret.txt", "not ours");
  WriteFile(TempRoot().parent_path() / "outside-sentinel", "not ours either");
  const std::vector<std::pair<ListedFile, std::string>> cases = {
      {{"INDD", "../evil.indd", working_ / "doc.indd"}, "\"../evil.indd\""},
      {{"INDD", "Links/../../evil.indd", working_ / "doc.indd"}, "\"Links/../../evil.indd\""},
      {{"INDD", "/abs.indd", working_ / "doc.indd"}, "\"/abs.indd\""},
      {{"TXT", "secret.txt", outside / "secret.txt"}, (outside / "secret.txt").string()},
      {{"TXT", "escape.txt", working_ / ".." / ".." / ".." / "outside-sentinel"},
       "outside-sentinel"},
  };
  for (const auto& [file, named] : cases) {
    SCOPED_TRACE(file.name);
    ASSERT_TRUE(sim_->Reset());
    // Without an upload key the request and archives lie in the upload folder itself.
    WriteRequest({{TwoArchives()[1][0]}, {file}}, "space", "wf", "");
    const JobPtr job = Run("7");
    EXPECT_EQ(job->GetState(), JobState::Failed);
    EXPECT_NE(job->LastMessage().find(named), std::string::npos) << job->LastMessage();
    EXPECT_NE(job->LastMessage().find("Aborting save."), std::string::npos);
    EXPECT_TRUE(UploadFolderFiles("").empty());
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/api/v2/ext/token/can_upload"}));
  }
  EXPECT_TRUE(fs::exists(outside / "secret.txt"));
  EXPECT_TRUE(fs::exists(TempRoot().parent_path() / "outside-sentinel"));

  for (const std::string argument : {"", "../7", "8:key"}) {
    EXPECT_EQ(Run(argument)->LastMessage(),
              "Error: You must run \"Save to Server\" from a Kelvory-enabled application.");
  }
}

TEST_F(SaveCmdTest, HostileWorkingFolderNamesRemoveNothingBeyondTheListedFiles) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"space", "../.."}, {"space", ".."}, {"space", ""}, {"", "wf"}, {"..", "Kelv"}};
  for (const auto& [ids, folder] : cases) {
    SCOPED_TRACE(ids + " / " + folder);
    ASSERT_TRUE(sim_->Reset());
    WriteFile(working_ / "doc.pdf", "pdf");
    WriteFile(working_ / "other.txt", "not listed");
    testing::LogCapture log;
    WriteRequest({{{"PDF", "doc.pdf", working_ / "doc.pdf"}}}, ids, folder);
    ASSERT_EQ(Run()->GetState(), JobState::Succeeded);
    EXPECT_FALSE(fs::exists(working_ / "doc.pdf"));
    EXPECT_TRUE(fs::exists(working_ / "other.txt"));
    EXPECT_TRUE(fs::exists(TempRoot() / "sentinel"));
    EXPECT_TRUE(log.HasFragment("warning", "Not removing the working folder"));
  }
}

}  // namespace
}  // namespace hopwell
