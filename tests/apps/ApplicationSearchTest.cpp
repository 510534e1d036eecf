#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "apps/FindApplication.h"
#include "apps/IEditApplication.h"
#include "common/LogCapture.h"
#include "common/ParameterDocument.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::MakeParameters;
using testing::ParameterList;

// A private APPDATA (for shortcuts) and registry file for every test.
class ApplicationSearchTest : public ::testing::Test {
 protected:
  fs::path Exe(const std::string& name) {
    const fs::path path = dir_ / "programs" / name;
    fs::create_directories(path.parent_path());
    testing::WriteFile(path, "#!/bin/sh\n");
    return path;
  }
  void Registry(const std::string& text) {
    fs::create_directories(dir_ / "config" / "Kelv");
    testing::WriteFile(dir_ / "config" / "Kelv" / "registry.ini", text);
  }
  void Shortcut(const std::string& name, const fs::path& target) {
    fs::create_directories(dir_ / "appdata" / "Kelv");
    fs::create_symlink(target, dir_ / "appdata" / "Kelv" / (name + ".lnk"));
  }
  fs::path Find(const ParameterList& values, bool additional = false) {
    return FindApplication(*MakeParameters<AppCmdParameters>(values), additional);
  }

  testing::TempDir dir_;
  testing::ScopedEnv appData_{"APPDATA", (dir_ / "appdata").string()};
  testing::ScopedEnv config_{"XDG_CONFIG_HOME", (dir_ / "config").string()};
  testing::LogCapture log_;
};

TEST_F(ApplicationSearchTest, UsualPathWinsWithoutAskingShortcutOrRegistry) {
  const fs::path usual = Exe("InDesign.exe");
  Shortcut("Adobe InDesign", Exe("other/InDesign.exe"));
  EXPECT_EQ(
      Find(
          {{"appname", "Adobe InDesign"}, {"appdefaultpath", usual.string()}, {"appquery", "Key"}}),
      usual);
  EXPECT_TRUE(log_.Has("info", "Application found at default path : " + usual.string()));
  EXPECT_FALSE(log_.HasFragment("info", "Shortcut file found"));
  EXPECT_FALSE(log_.HasFragment("info", "Searching for Query"));
}

TEST_F(ApplicationSearchTest, ShortcutTargetMustBeTheExpectedExecutable) {
  const fs::path indesign = Exe("InDesign.exe");
  Shortcut("Adobe InDesign", indesign);
  Shortcut("Adobe InCopy", indesign);
  EXPECT_EQ(Find({{"appname", "Adobe InDesign"}, {"appdefaultpath", "/nowhere/x"}}), indesign);
  EXPECT_TRUE(log_.Has("info", "Application found at Shortcut target file : " + indesign.string()));

  EXPECT_EQ(Find({{"appname", "Adobe InCopy"}, {"appquery", "Missing"}}), fs::path());
  EXPECT_TRUE(log_.Has("info", "Invalid Shortcut target file : " + indesign.string() +
                                   " unable to find InCopy.exe"));
  EXPECT_TRUE(log_.Has("error", "Failed to open registry key Missing"));
}

TEST_F(ApplicationSearchTest, DanglingShortcutAndMissingShortcutAreLogged) {
  Shortcut("Adobe InDesign", dir_ / "gone" / "InDesign.exe");
  EXPECT_TRUE(Find({{"appname", "Adobe InDesign"}}).empty());
  EXPECT_TRUE(log_.HasFragment("info", "Application NOT found at Shortcut target file : "));
  EXPECT_TRUE(Find({{"appname", "Adobe InCopy"}}).empty());
  EXPECT_TRUE(log_.Has("info",
                       "If Application is not installed at Default Path then create a shortcut "
                       "at following location -\n" +
                           (dir_ / "appdata" / "Kelv" / "Adobe InCopy.lnk").string()));
  EXPECT_TRUE(log_.Has("info", "Search Completed. Application not found : Adobe InCopy"));
}

TEST_F(ApplicationSearchTest, NameThatIsNotAFileNameNeverNamesAShortcut) {
  // "../x" would put the shortcut outside AppDataRoot.
  const fs::path outside = Exe("InDesign.exe");
  fs::create_directories(dir_ / "appdata");
  fs::create_symlink(outside, dir_ / "appdata" / "x.lnk");
  EXPECT_TRUE(Find({{"appname", "../x"}}).empty());
  EXPECT_FALSE(log_.HasFragment("info", "Shortcut file found"));
}

TEST_F(ApplicationSearchTest, RegistryKeysInOrderFirstExistingFileWins) {
  const fs::path exe = Exe("InDesign.exe");
  Registry("[First]\n@=/nowhere/InDesign.exe\n[NoValue]\nOther=1\r\n[second\\Key]\r\n@=" +
           exe.string() + "\r\n[Third]\n@=" + exe.string() + "\n");
  EXPECT_EQ(Find({{"appname", "A"}, {"appquery", "Absent||First|NoValue|SECOND\\key|Third"}}), exe);
  EXPECT_TRUE(log_.Has("error", "Failed to open registry key Absent"));
  EXPECT_TRUE(log_.Has("info", "Found /nowhere/InDesign.exe"));
  EXPECT_TRUE(log_.Has("error", "Failed to read registry key NoValue"));
  EXPECT_TRUE(
      log_.Has("info", "Application found from Windows Registry at location :" + exe.string()));
  // The empty piece between "||" is dropped; "Third" is never asked.
  std::vector<std::string> asked;
  for (const auto& record : log_.Records()) {
    if (record.message.rfind("Searching for Query - ", 0) == 0) asked.push_back(record.message);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{
                       "Searching for Query - Absent", "Searching for Query - First",
                       "Searching for Query - NoValue", "Searching for Query - SECOND\\key"}));
}

TEST_F(ApplicationSearchTest, AdditionalQueryIsOneKeyEvenWithBars) {
  const fs::path exe = Exe("InCopy.exe");
  Registry("[A|B]\n@=" + exe.string() + "\n");
  EXPECT_EQ(Find({{"additionalappname", "InCopy"}, {"additionalappquery", "A|B"}}, true), exe);
}

TEST_F(ApplicationSearchTest, RegistryValueIsCutAsTheFixedBufferWould) {
  Registry("[Long]\n@=" + std::string(1500, 'v') + "\n");
  EXPECT_EQ(QueryRegistry("Long"), std::string(1023, 'v'));
}

TEST_F(ApplicationSearchTest, RecordSearchesOnceForBothApplications) {
  auto parameters = MakeParameters<AppCmdParameters>({{"appname", "InDesign"},
                                                      {"appversion", "21.0.1"},
                                                      {"appdefaultpath", "/nope"},
                                                      {"additionalappname", "InCopy"},
                                                      {"additionalappdefaultpath", "/nope2"}});
  IEditApplication record(parameters);
  EXPECT_TRUE(record.AdditionalAppPath().empty());
  EXPECT_TRUE(log_.Has("info", "Finding Application : InDesign"));
  // Found later on disk: the record keeps its answer and does not search again.
  Exe("placeholder");
  const std::size_t records = log_.Records().size();
  EXPECT_TRUE(record.AppPath().empty());
  EXPECT_EQ(log_.Records().size(), records);
  EXPECT_EQ(record.MajorVersion(), "21");
  EXPECT_EQ(
      IEditApplication(MakeParameters<AppCmdParameters>({{"appversion", "17"}})).MajorVersion(),
      "17");
}

}  // namespace
}  // namespace hopwell
