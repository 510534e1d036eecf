#include "storage/LocalFolders.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "common/TempDir.h"

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

}  // namespace
}  // namespace hopwell
