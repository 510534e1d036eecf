#include "storage/LocalFolders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/TempDir.h"
#include "storage/FileOperations.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ScopedEnv;
using testing::TempDir;

TEST(LocalFoldersTest, LayoutUnderTempAndAppData) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", (dir / "t").string());
  ScopedEnv appdata("APPDATA", (dir / "a").string());
  EXPECT_EQ(TempRoot(), dir / "t" / "Kelv");
  EXPECT_EQ(AppDataRoot(), dir / "a" / "Kelv");
  EXPECT_EQ(UploadFolder("doc", "key"), dir / "t" / "Kelv" / "upload" / "doc");
  EXPECT_EQ(UploadFolder("doc", ""), dir / "t" / "Kelv" / "upload");
  EXPECT_EQ(UploadFolder("", "key"), dir / "t" / "Kelv" / "upload");
  EXPECT_EQ(TempSubfolder("a", "b"), dir / "t" / "Kelv" / "a" / "b");
  EXPECT_EQ(CurrentDocumentsDbPath(), dir / "a" / "Kelv" / "CurrentDocuments.cdb");
  EXPECT_EQ(TaggerDownloadFolder(), dir / "t" / "Kelv" / "tagger_download");
  EXPECT_EQ(TaggerFolder(), dir / "t" / "Kelv" / "tagger");
  EXPECT_EQ(TaggerVendorFolder(), dir / "a" / "AMANAConsulting");
  EXPECT_FALSE(fs::exists(TempRoot()));
  EXPECT_EQ(LogFolder(), dir / "t" / "Kelv" / "Hopwell");
  EXPECT_TRUE(fs::is_directory(dir / "t" / "Kelv" / "Hopwell"));
}

TEST(LocalFoldersTest, SpaceFoldersAreNeverTheClientsOwn) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", (dir / "t").string());
  EXPECT_EQ(SpaceFolder("space-1"), dir / "t" / "Kelv" / "space-1");
  EXPECT_EQ(SpaceFolder("uploads"), dir / "t" / "Kelv" / "uploads");
  for (const char* refused :
       {"upload", "UPLOAD", "ESEF", "esef", "tagger", "tagger_download", "Hopwell", "hopwell",
        "plug-ins", "plug-ins.THIS_FOLDER_IS_SAFE_TO_DELETE", "", ".", "..", "a/b"}) {
    EXPECT_EQ(SpaceFolder(refused), std::nullopt) << refused;
  }
}

TEST(LocalFoldersTest, AppDataIsNeverRelative) {
  TempDir dir;
  ScopedEnv appdata("APPDATA", "");
  ScopedEnv data("XDG_DATA_HOME", "relative/data");
  ScopedEnv home("HOME", dir.path().string());
  EXPECT_EQ(AppDataRoot(), dir / ".local" / "share" / "Kelv");
  EXPECT_EQ(TaggerVendorFolder(), dir / ".local" / "share" / "AMANAConsulting");
  {
    ScopedEnv xdg("XDG_DATA_HOME", (dir / "xdg").string());
    EXPECT_EQ(AppDataRoot(), dir / "xdg" / "Kelv");
  }
  ScopedEnv noHome("HOME", "");
  EXPECT_TRUE(AppDataRoot().is_absolute());
  EXPECT_TRUE(TaggerVendorFolder().is_absolute());
}

TEST(LocalFoldersTest, TempFallsBackToCache) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", "");
  ScopedEnv cache("XDG_CACHE_HOME", (dir / "cache").string());
  EXPECT_EQ(TempRoot(), dir / "cache" / "Kelv");
}

TEST(LocalFoldersTest, EsefWorkFolderIsFreshLowerCaseUuid) {
  const fs::path first = EsefWorkFolder();
  const fs::path second = EsefWorkFolder();
  EXPECT_NE(first, second);
  EXPECT_EQ(first.parent_path(), TempRoot() / "ESEF");
  const std::string name = first.filename().string();
  ASSERT_EQ(name.size(), 36u);
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ(name[i], '-');
    } else {
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(name[i])) && !std::isupper(name[i]));
    }
  }
  EXPECT_EQ(name[14], '4');  // version 4
}

unsigned Mode(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(LocalFoldersTest, FoldersTheClientMakesAreForTheUserAlone) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", (dir / "t").string());
  EXPECT_EQ(Mode(LogFolder()), 0700u);
  EXPECT_EQ(Mode(dir / "t"), 0700u);
  ASSERT_TRUE(CreateFolder(TempRoot() / "a" / "b"));
  EXPECT_EQ(Mode(TempRoot() / "a"), 0700u);
  EXPECT_EQ(Mode(TempRoot() / "a" / "b"), 0700u);
}

struct RootCase {
  const char* label;
  std::function<void(const fs::path& root)> arrange;
  uid_t owner;          // the user the folder must belong to
  const char* problem;  // what the message says after the quoted path; empty: usable
};

TEST(LocalFoldersTest, PrepareOwnFolderCreatesNarrowsOrRefuses) {
  const uid_t me = ::getuid();
  const RootCase cases[] = {
      {"Missing", [](const fs::path&) {}, me, ""},
      {"OwnButOpen",
       [](const fs::path& root) {
         fs::create_directories(root);
         ::chmod(root.c_str(), 0777);
       },
       me, ""},
      {"AnotherUsers", [](const fs::path& root) { fs::create_directories(root); }, me + 1,
       "it belongs to another user"},
      {"LinkToAnotherUsers",
       [](const fs::path& root) {
         fs::create_directories(root.parent_path() / "elsewhere");
         fs::create_symlink(root.parent_path() / "elsewhere", root);
       },
       me + 1, "it belongs to another user"},
      {"AFile", [](const fs::path& root) { testing::WriteFile(root, "x"); }, me,
       "it is not a folder"},
      {"ParentIsAFile",
       [](const fs::path& root) {
         fs::remove(root.parent_path());
         testing::WriteFile(root.parent_path(), "x");
       },
       me, "Not a directory"},
  };
  for (const RootCase& c : cases) {
    TempDir dir;
    const fs::path root = dir / "shared" / "Kelv";
    fs::create_directories(root.parent_path());
    c.arrange(root);
    const std::string problem = PrepareOwnFolder(root, c.owner);
    if (*c.problem == '\0') {
      EXPECT_EQ(problem, "") << c.label;
      EXPECT_EQ(Mode(root), 0700u) << c.label;
    } else {
      EXPECT_EQ(problem, "Hopwell cannot use the folder \"" + root.string() + "\": " + c.problem)
          << c.label;
    }
  }
}

}  // namespace
}  // namespace hopwell
