#include "commands/open/DocumentDownload.h"

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "commands/open/InddFile.h"
#include "commands/open/OpenStepsFixture.h"
#include "storage/LocalFolders.h"
#include "storage/ZipFiles.h"

namespace hopwell::testing {
namespace {

namespace fs = boost::filesystem;

constexpr char kBase[] = "http://127.0.0.1:18080/f/";

std::string FileEntry(const std::string& name, bool decompress = false, int size = 0) {
  return "<file><url>" + std::string(kBase) + name + "</url><name>" + name + "</name>" +
         (decompress ? "<decompress>true</decompress>" : "") + "<size>" + std::to_string(size) +
         "</size></file>";
}

class DocumentDownloadTest : public OpenStepsTest {
 protected:
  // Zip archive bytes holding the entries (name, contents).
  std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<fs::path> sources;
    std::vector<std::string> names;
    for (const auto& [name, contents] : entries) {
      sources.push_back(dir_ / ("src" + std::to_string(sources.size())));
      WriteFile(sources.back(), contents);
      names.push_back(name);
    }
    const fs::path archive = dir_ / "made.zip";
    fs::remove(archive);
    EXPECT_TRUE(ZipFiles(sources, names, archive, 0,
                         std::make_shared<JobStatus>(ActionKind::Upload, "", "")));
    return ReadFile(archive);
  }

  void Serve(const std::string& name, std::string body, long status = 200) {
    http_.answers[kBase + name] = {HttpResult::Ok, status, std::move(body)};
  }

  void Open(const std::string& version, const std::string& files, const std::string& ids = "S1",
            const std::string& tpvid = "T9") {
    SetParameters({{"appversion", version},
                   {"IDS", ids},
                   {"TPVID", tpvid},
                   {"chaptername", "My book"},
                   {"documentversion", "3"}},
                  "<files>" + files + "</files>");
  }

  bool Download() {
    document_.clear();
    return DownloadFiles(command_, *parameters_, {&Count, &reports_, &fileBytes_}, document_);
  }

  static void Count(void* context, std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t) {
    ++*static_cast<int*>(context);
  }

  fs::path Chapter() const { return TempRoot() / "S1" / "T9"; }

  fs::path document_;
  int reports_ = 0;
  std::uint64_t fileBytes_ = 7;
};

TEST_F(DocumentDownloadTest, ArchivesUnpackFlatAndTheDocumentIsNamedAfterTheChapter) {
  Serve("c.zip", Zip({{"Links/pic.jpg", "jpeg"}, {"story.indd", "indd"}}));
  Serve("notes.txt", "notes");
  for (const auto& [version, name] :
       {std::pair{"20.0", "MyXbook_v3.indd"}, std::pair{"21.0", "My book_v3.indd"}}) {
    SCOPED_TRACE(version);
    fs::remove_all(TempRoot());
    Open(version, FileEntry("c.zip", true, 100) + FileEntry("notes.txt"));
    ASSERT_TRUE(Download()) << job_.LastMessage();
    EXPECT_EQ(document_, Chapter() / name);
    EXPECT_EQ(ReadFile(document_), "indd");
    EXPECT_EQ(ReadFile(Chapter() / "pic.jpg"), "jpeg");
    EXPECT_EQ(ReadFile(Chapter() / "notes.txt"), "notes");
    EXPECT_TRUE(fs::exists(Chapter() / "c.zip"));
    EXPECT_FALSE(fs::exists(Chapter() / "story.indd"));
  }
  // Only the announced file reported progress, and each file began at 0 bytes.
  EXPECT_EQ(reports_, 2);
  EXPECT_EQ(fileBytes_, 0u);
}

TEST_F(DocumentDownloadTest, SecondOpenOfTheSameVersionKeepsTheFirstAside) {
  Serve("a.txt", "second");
  Serve("listed.part", "a chapter file of that name");
  for (const std::string version : {"20.0", "21.0"}) {
    SCOPED_TRACE(version);
    fs::remove_all(TempRoot());
    fs::create_directories(Chapter());
    WriteFile(Chapter() / "a.txt", "first");
    // A download the first open did not finish goes; a listed file of such a name stays.
    WriteFile(Chapter() / "b.pdf.part", "cut short");
    WriteFile(Chapter() / "listed.part", "first");
    Open(version, FileEntry("a.txt") + FileEntry("listed.part"));
    ASSERT_TRUE(Download());
    const fs::path aside = TempRoot() / "S1" / "T9_0";
    EXPECT_FALSE(fs::exists(Chapter() / "b.pdf.part"));
    EXPECT_FALSE(fs::exists(aside / "b.pdf.part"));
    EXPECT_EQ(ReadFile((version == "20.0" ? aside : Chapter()) / "listed.part"), "first");
    if (version == "20.0") {
      EXPECT_EQ(ReadFile(aside / "a.txt"), "first");
      EXPECT_EQ(ReadFile(Chapter() / "a.txt"), "second");
    } else {
      EXPECT_EQ(ReadFile(Chapter() / "a.txt"), "first");
      EXPECT_EQ(ReadFile(aside / "a.txt"), "second");
    }
    EXPECT_TRUE(document_.empty());
  }
}

TEST_F(DocumentDownloadTest, HostileNamesWriteNothingOutsideTheChapter) {
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"..", "T9", "a.txt", "Couldn't save document to local disk"},
      {"S1", "../../escaped", "a.txt", "Couldn't save document to local disk"},
      {"", "T9", "a.txt", "Couldn't save document to local disk"},
      {"upload", "T9", "a.txt", "Couldn't save document to local disk"},
      {"Hopwell", "T9", "a.txt", "Couldn't save document to local disk"},
      {"S1", "T9", "../escaped", "Failed to download file 1 (of 1)"},
      {"S1", "T9", "/tmp/escaped", "Failed to download file 1 (of 1)"},
      {"S1", "T9", "sub/escaped", "Failed to download file 1 (of 1)"},
      {"S1", "T9", "..", "Failed to download file 1 (of 1)"},
  };
  for (const auto& [ids, tpvid, name, message] : cases) {
    SCOPED_TRACE(ids + " " + tpvid + " " + name);
    JobStatus job(ActionKind::Download, "Opening...", "kelv:open:test");
    CommandContext command{http_, job, log_, "t"};
    http_.answers["http://127.0.0.1:18080/" + name] = {HttpResult::Ok, 200, "payload"};
    SetParameters({{"IDS", ids}, {"TPVID", tpvid}}, "<files><file><url>http://127.0.0.1:18080/" +
                                                        name + "</url><name>" + name +
                                                        "</name></file></files>");
    fs::path document;
    EXPECT_FALSE(DownloadFiles(command, *parameters_, {}, document));
    EXPECT_EQ(job.LastMessage(), message);
  }
  for (fs::recursive_directory_iterator it(dir_.path()), end; it != end; ++it) {
    EXPECT_TRUE(fs::is_directory(it->path())) << it->path();
  }
}

TEST_F(DocumentDownloadTest, FailuresEndTheDownload) {
  const std::string empty = (Chapter() / "e.txt").string();
  const std::tuple<std::string, ScriptedHttpHelper::Answer, bool, std::string> cases[] = {
      {"e.txt",
       {HttpResult::Ok, 404, "<html>Not found</html>"},
       false,
       "Failed to download e.txt (HTTP 404)"},
      {"e.txt",
       {HttpResult::Ok, 500, "<html>Oops</html>"},
       false,
       "Failed to download e.txt (HTTP 500)"},
      {"e.txt",
       {HttpResult::ReadFailed, 0, ""},
       false,
       "Failed to download e.txt (transfer failed)"},
      {"e.txt", {HttpResult::Ok, 200, ""}, false, "Failed to download \"" + empty + "\""},
      {"e.txt", {HttpResult::Ok, 200, "not a zip"}, true, "Failed to unzip \"" + empty + "\""},
  };
  for (const auto& [name, answer, decompress, message] : cases) {
    SCOPED_TRACE(message);
    JobStatus job(ActionKind::Download, "Opening...", "kelv:open:test");
    CommandContext command{http_, job, log_, "t"};
    fs::remove_all(TempRoot());
    http_.answers[kBase + name] = answer;
    Open("21.0", FileEntry(name, decompress) + FileEntry("never.txt"));
    fs::path document;
    EXPECT_FALSE(DownloadFiles(command, *parameters_, {}, document));
    EXPECT_EQ(job.GetState(), JobState::Failed);
    EXPECT_EQ(job.LastMessage(), message);
    EXPECT_FALSE(fs::exists(Chapter() / "never.txt"));
    // Only a whole download is ever seen under the file's name; nothing partial stays.
    EXPECT_EQ(fs::exists(Chapter() / name), decompress);
    EXPECT_FALSE(fs::exists(Chapter() / (name + ".part")));
  }
}

TEST_F(DocumentDownloadTest, DocumentAlreadyBearingTheTargetNameInAnyCase) {
  for (const std::string inside : {"My book_v3.indd", "MY BOOK_V3.indd"}) {
    SCOPED_TRACE(inside);
    fs::remove_all(TempRoot());
    Serve("c.zip", Zip({{inside, "doc"}}));
    Open("21.0", FileEntry("c.zip", true));
    ASSERT_TRUE(Download()) << job_.LastMessage();
    EXPECT_EQ(document_, Chapter() / "My book_v3.indd");
    EXPECT_EQ(ReadFile(document_), "doc");
    std::size_t files = 0;
    for (fs::directory_iterator it(Chapter()), end; it != end; ++it) ++files;
    EXPECT_EQ(files, 2u);  // the archive and the document
  }
}

TEST_F(DocumentDownloadTest, TargetThatCannotBeRemovedFailsTheJob) {
  Open("21.0", "");
  const fs::path folder = dir_ / "unpacked";
  WriteFile(folder / "x.indd", "doc");
  WriteFile(folder / "My book_v3.indd" / "keep", "a folder in the way");
  EXPECT_TRUE(PrepareInddFile(command_, *parameters_, folder / "x.indd").empty());
  EXPECT_EQ(job_.LastMessage(),
            "Couldn't delete file \"" + (folder / "My book_v3.indd").string() + "\"");
  EXPECT_TRUE(PrepareInddFile(command_, *parameters_, folder / "keep.txt").empty());
}

TEST_F(DocumentDownloadTest, NoFileListDownloadsNothing) {
  Open("21.0", "");
  SetParameters({{"IDS", "S1"}, {"TPVID", "T9"}});
  EXPECT_TRUE(Download());
  EXPECT_TRUE(document_.empty());
  EXPECT_TRUE(fs::is_directory(Chapter()));
}

}  // namespace
}  // namespace hopwell::testing
