#include "support/UserPreferences.h"

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/LogCapture.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::LogCapture;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string Quoted(const fs::path& path) {
  std::ostringstream out;
  out << path;
  return out.str();
}

TEST(UserPreferencesTest, SavedValuesReadBackInANewInstance) {
  TempDir dir;
  const fs::path file = dir / "Kelv" / "UserPreferences.xml";
  {
    UserPreferences preferences(file);
    EXPECT_EQ(preferences.Name(), "");
    EXPECT_EQ(preferences.Email(), "");
    preferences.SetName("Malin \xc3\x85str\xc3\xb6m");
    preferences.SetEmail("malin@example.se");
    EXPECT_TRUE(preferences.Save());  // creates the missing folder
  }
  UserPreferences again(file);
  EXPECT_EQ(again.Name(), "Malin \xc3\x85str\xc3\xb6m");
  EXPECT_EQ(again.Email(), "malin@example.se");

  const std::string xml = ReadFile(file);
  EXPECT_NE(xml.find("encoding=\"utf-8\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<preferences><user><name>Malin"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<email>malin@example.se</email>"), std::string::npos) << xml;
}

TEST(UserPreferencesTest, SaveReplacesTheWholeFile) {
  TempDir dir;
  const fs::path file = dir / "UserPreferences.xml";
  WriteFile(file, std::string(4000, ' ') +
                      "<preferences><user><name>Old</name></user>"
                      "<other>kept?</other></preferences>");
  UserPreferences preferences(file);
  EXPECT_EQ(preferences.Name(), "Old");
  preferences.SetName("New");
  ASSERT_TRUE(preferences.Save());
  UserPreferences again(file);
  EXPECT_EQ(again.Name(), "New");
  EXPECT_EQ(again.Email(), "");
  EXPECT_LT(fs::file_size(file), 4000u);
}

TEST(UserPreferencesTest, MissingKeysReadAsEmpty) {
  TempDir dir;
  const fs::path file = dir / "UserPreferences.xml";
  WriteFile(file,
            "<?xml version=\"1.0\"?><preferences><user><email>a@b.cd</email></user></preferences>");
  UserPreferences preferences(file);
  EXPECT_EQ(preferences.Name(), "");
  EXPECT_EQ(preferences.Email(), "a@b.cd");
}

TEST(UserPreferencesTest, MalformedFileReadsAsEmptyAndLogsTheParser) {
  for (const char* text : {"<preferences><user><name>x</name>", "not xml at all <<<", "\x01\x02"}) {
    TempDir dir;
    const fs::path file = dir / "UserPreferences.xml";
    WriteFile(file, text);
    LogCapture log;
    UserPreferences preferences(file);
    EXPECT_EQ(preferences.Name(), "") << text;
    EXPECT_TRUE(log.HasFragment("warning", "Failed to read user preferences: ")) << text;
    EXPECT_TRUE(log.Has("debug", "Loading user preferences from " + Quoted(file)));
    // The broken file is replaced by a good one on the next save.
    preferences.SetName("Fixed");
    EXPECT_TRUE(preferences.Save());
    EXPECT_EQ(UserPreferences(file).Name(), "Fixed");
  }
}

TEST(UserPreferencesTest, FolderThatIsAFileIsReported) {
  TempDir dir;
  const fs::path blocker = dir / "Kelv";
  WriteFile(blocker, "a file where the folder should be");
  LogCapture log;
  UserPreferences preferences(blocker / "UserPreferences.xml");
  preferences.SetName("x");
  EXPECT_FALSE(preferences.Save());
  EXPECT_TRUE(
      log.Has("debug", "Saving user preferences to " + Quoted(blocker / "UserPreferences.xml")));
  EXPECT_TRUE(log.Has("error", Quoted(blocker) + " already exists, but is not a directory"));
}

TEST(UserPreferencesTest, UncreatableFolderIsReported) {
  TempDir dir;
  WriteFile(dir / "file", "x");
  const fs::path folder = dir / "file" / "below";
  LogCapture log;
  UserPreferences preferences(folder / "UserPreferences.xml");
  EXPECT_FALSE(preferences.Save());
  EXPECT_TRUE(log.Has("error", "Failed to create " + Quoted(folder)));
}

TEST(UserPreferencesTest, InstanceLivesUnderAppDataRoot) {
  const fs::path& path = UserPreferences::Instance().Path();
  EXPECT_EQ(path.filename(), "UserPreferences.xml");
  EXPECT_EQ(path.parent_path().filename(), "Kelv");
  EXPECT_EQ(&UserPreferences::Instance(), &UserPreferences::Instance());
}

}  // namespace
}  // namespace hopwell
