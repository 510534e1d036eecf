#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "commands/install/InstallerTestSupport.h"
#include "commands/install/PluginConfigFile.h"
#include "commands/install/PluginInstallerCmd.h"
#include "common/LogCapture.h"
#include "storage/ArchiveContents.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ParameterList;

// Offline: the package comes from a PackageServer; settings roots and the package folder
// live in a private APPDATA.
class PluginInstallerTest : public ::testing::Test {
 protected:
  PluginInstallerTest() {
    for (const std::string version : {"1.0", "2.0"}) {
      packages_[version] = testing::MakePackage(dir_, version);
    }
  }

  ParameterList Values(const std::string& version, const std::string& appVersion = "21.0") {
    return {{"appversion", appVersion},
            {"pluginversion", version},
            {"pluginurl", "http://127.0.0.1:18080/p/" + version + ".zip"},
            {"plugincrc", testing::HexCrc(packages_[version], dir_)}};
  }
  std::unique_ptr<PluginInstallerCmd> Installer(const ParameterList& values) {
    server_ = std::make_shared<testing::PackageServer>();
    auto it = std::find_if(values.begin(), values.end(),
                           [](const auto& p) { return p.first == "pluginversion"; });
    if (it != values.end()) server_->body = packages_[it->second];
    return std::make_unique<PluginInstallerCmd>(
        job_, dir_ / "app", testing::MakeParameters<AppCmdParameters>(values), server_);
  }
  int Update(const ParameterList& values, bool running = false) {
    return Installer(values)->UpdatePlugins(running);
  }
  fs::path PackageFolder() const { return dir_ / "appdata" / "Kelv" / "plug-ins"; }
  fs::path Language(const std::string& kind = "InDesign", const std::string& root = "Version 21.0",
                    const std::string& language = "en_US") const {
    return dir_ / "appdata" / "Adobe" / kind / root / language;
  }
  std::string Config(const fs::path& folder, const char* name = "PluginConfig.txt") const {
    return testing::ReadFile(folder / name);
  }
  std::string Quoted(const fs::path& path) const {
    return PluginConfigFile::QuotedLine(path) + "\r\n";
  }

  testing::TempDir dir_;
  testing::ScopedEnv appData_{"APPDATA", (dir_ / "appdata").string()};
  testing::ScopedEnv temp_{"TMPDIR", (dir_ / "tmp").string()};
  JobPtr job_ = std::make_shared<JobStatus>(ActionKind::Install, "", "");
  std::map<std::string, std::string> packages_;
  std::shared_ptr<testing::PackageServer> server_;
  testing::LogCapture log_;
};

TEST_F(PluginInstallerTest, FreshInstallDownloadsDeploysAndRecords) {
  fs::create_directories(dir_ / "tmp" / "Kelv" / "plug-ins");
  EXPECT_EQ(Update(Values("1.0")), 1);
  EXPECT_TRUE(fs::is_directory(dir_ / "tmp" / "Kelv" / "plug-ins.THIS_FOLDER_IS_SAFE_TO_DELETE"));
  EXPECT_EQ(server_->requests, 1);
  const fs::path extracted = PackageFolder() / "1.0";
  EXPECT_EQ(testing::ReadFile(PackageFolder() / "21.0-Version.txt"), "1.0");
  for (const fs::path& folder : {Language(), Language("InCopy", "Version 21.0-ME", "ko_KR")}) {
    EXPECT_EQ(Config(folder), "=Path\r\n" + Quoted(extracted / "x64"));
    EXPECT_EQ(Config(folder, "PluginConfig32.txt"), "=Path\r\n" + Quoted(extracted / "Win32"));
    EXPECT_EQ(testing::ReadFile(folder / "Scripts" / "Kelvory" / "Set" / "start.jsx"),
              "Scripts/Set/start.jsx 1.0");
    EXPECT_EQ(testing::ReadFile(folder / "Scripts" / "Kelvory" / "readme.txt"),
              "Scripts/readme.txt 1.0");
  }
  EXPECT_TRUE(fs::exists(dir_ / "appdata/Adobe/CEP/extensions/com.kelvory.panel/index.html"));
  EXPECT_GT(job_->GetProgress(), 0);
}

TEST_F(PluginInstallerTest, StateTableBetweenRuns) {
  ASSERT_EQ(Update(Values("1.0")), 1);
  // Current, package present: deploys again without any request.
  EXPECT_EQ(Update(Values("1.0")), 0);
  EXPECT_EQ(server_->requests, 0);
  // A new version whose package is already here with the announced CRC: no request, the
  // old version's folder and registrations go.
  testing::WriteFile(PackageFolder() / "2.0.zip", packages_["2.0"]);
  EXPECT_EQ(Update(Values("2.0")), 1);
  EXPECT_EQ(server_->requests, 0);
  EXPECT_FALSE(fs::exists(PackageFolder() / "1.0"));
  EXPECT_EQ(Config(Language()), "=Path\r\n" + Quoted(PackageFolder() / "2.0" / "x64"));
  // Current but the package is gone.
  fs::remove(PackageFolder() / "2.0.zip");
  EXPECT_EQ(Update(Values("2.0")), 2);
  // Needed while the application runs: nothing is fetched or changed.
  EXPECT_EQ(Update(Values("1.0"), true), 3);
  EXPECT_EQ(server_->requests, 0);
  EXPECT_EQ(testing::ReadFile(PackageFolder() / "21.0-Version.txt"), "2.0");
  // A damaged package is fetched again.
  testing::WriteFile(PackageFolder() / "1.0.zip", "damaged");
  EXPECT_EQ(Update(Values("1.0")), 1);
  EXPECT_EQ(server_->requests, 1);
  // Current, but the extraction folder is gone and the kept package damaged: the package is
  // fetched again, checked and unpacked before it is deployed.
  fs::remove_all(PackageFolder() / "1.0");
  testing::WriteFile(PackageFolder() / "1.0.zip", "damaged");
  EXPECT_EQ(Update(Values("1.0")), 0);
  EXPECT_EQ(server_->requests, 1);
  EXPECT_EQ(testing::ReadFile(PackageFolder() / "1.0" / "Win32" / "Kelv.pln"),
            "Win32/Kelv.pln 1.0");
}

TEST_F(PluginInstallerTest, OldVersionStaysWholeUntilTheNewOneIsRecorded) {
  ASSERT_EQ(Update(Values("1.0")), 1);
  // A switch cut short left a file registering another version of ours as well: the next
  // run leaves it registering the recorded one alone, and the user's own entries.
  testing::WriteFile(Language() / "PluginConfig.txt",
                     "=Path\r\n" + Quoted(PackageFolder() / "1.0" / "x64") +
                         Quoted(PackageFolder() / "0.5" / "x64") + Quoted(dir_ / "mine"));
  EXPECT_EQ(Update(Values("1.0")), 0);
  EXPECT_EQ(Config(Language()),
            "=Path\r\n" + Quoted(PackageFolder() / "1.0" / "x64") + Quoted(dir_ / "mine"));
  // A new package that does not unpack: the installed version stays registered, recorded
  // and whole, and nothing of the new one is left.
  packages_["bad"] = "not a zip archive";
  EXPECT_EQ(Update(Values("bad")), 2);
  EXPECT_EQ(testing::ReadFile(PackageFolder() / "21.0-Version.txt"), "1.0");
  EXPECT_EQ(Config(Language()),
            "=Path\r\n" + Quoted(PackageFolder() / "1.0" / "x64") + Quoted(dir_ / "mine"));
  EXPECT_EQ(FirstEntryNotHeld(PackageFolder() / "1.0.zip", PackageFolder() / "1.0"), std::string());
  EXPECT_FALSE(fs::exists(PackageFolder() / "bad"));
  EXPECT_FALSE(fs::exists(PackageFolder() / "bad.unpacking"));
  // What killed updates left (a version half unpacked, one half removed) goes with the next.
  testing::WriteFile(PackageFolder() / "2.0.unpacking" / "x64" / "Kelv.pln", "half");
  testing::WriteFile(PackageFolder() / "0.9.removing" / "Win32" / "Kelv.pln", "half");
  EXPECT_EQ(Update(Values("2.0")), 1);
  EXPECT_EQ(Config(Language()),
            "=Path\r\n" + Quoted(dir_ / "mine") + Quoted(PackageFolder() / "2.0" / "x64"));
  EXPECT_EQ(FirstEntryNotHeld(PackageFolder() / "2.0.zip", PackageFolder() / "2.0"), std::string());
  for (const char* gone : {"1.0", "1.0.removing", "2.0.unpacking", "0.9.removing"}) {
    EXPECT_FALSE(fs::exists(PackageFolder() / gone)) << gone;
  }
}

TEST_F(PluginInstallerTest, EmptyPluginVersionCountsAsCurrent) {
  ParameterList values = Values("1.0");
  values[1].second = "";
  EXPECT_EQ(Update(values), 2);  // no package yet
  testing::WriteFile(PackageFolder() / "1.0.zip", packages_["1.0"]);
  EXPECT_EQ(Update(values), 1);
  EXPECT_EQ(server_->requests, 0);
  ASSERT_TRUE(fs::is_regular_file(PackageFolder() / "21.0-Version.txt"));
  EXPECT_EQ(fs::file_size(PackageFolder() / "21.0-Version.txt"), 0u);
}

TEST_F(PluginInstallerTest, DownloadProgressAndFileFailuresAreReported) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string crc;  // empty: the package's own
    int result;
    std::vector<std::pair<const char*, std::string>> logged;  // severity, exact text
  };
  const fs::path package = PackageFolder() / "1.0.zip";
  const fs::path versionsFile = PackageFolder() / "21.0-Version.txt";
  const Case cases[] = {
      // CRC-32 of "a" is 0xE8B7BE43: both CRC lines are signed decimals.
      {"CRCs with the top bit set",
       [&] { testing::WriteFile(package, "a"); },
       "deadbeef",
       2,
       {{"trace", "Local package CRC is  -390611389"},
        {"trace", "Remote package CRC is -559038737"},
        {"error", "Expected checksum 0x00DEADBEEF"}}},
      {"package that cannot be deleted",
       [&] { testing::WriteFile(package / "in-the-way", ""); },
       "",
       2,
       {{"error", "Couldn't delete the file \"" + package.string() + "\": Directory not empty"}}},
      {"versions file that cannot be written",
       [&] { fs::create_directories(versionsFile); },
       "",
       1,
       {{"warning", "Failed to save file \"" + versionsFile.string() + "\""}}},
  };
  for (const Case& c : cases) {
    fs::remove_all(PackageFolder());
    c.arrange();
    ParameterList values = Values("1.0");
    if (!c.crc.empty()) values[3].second = c.crc;
    auto installer = Installer(values);
    server_->reportedTotal = 3000000;
    server_->reportedDone = 1000;
    EXPECT_EQ(installer->UpdatePlugins(false), c.result) << c.name;
    for (const auto& [severity, text] : c.logged) EXPECT_TRUE(log_.Has(severity, text)) << text;
  }
  // 1000 B in no time of 3000000: the first report, at a rate of 1000 B per millisecond.
  EXPECT_EQ(job_->Messages()[0], "Downloading 1000 B of 2 MB, 2 seconds remaining");
}

TEST_F(PluginInstallerTest, BadDownloadsEndWithTwoAndRecordNothing) {
  struct Case {
    const char* name;
    std::string body;
    std::string crc;  // empty: the body's own
    HttpResult result;
  };
  const Case cases[] = {
      {"wrong crc", packages_["1.0"], "0x12345678", HttpResult::Ok},
      {"not a zip", "<html>not found</html>", "", HttpResult::Ok},
      {"transport", packages_["1.0"], "", HttpResult::ReadFailed},
  };
  for (const Case& c : cases) {
    ParameterList values = Values("1.0");
    values[3].second = c.crc.empty() ? testing::HexCrc(c.body, dir_) : c.crc;
    auto installer = Installer(values);
    server_->body = c.body;
    server_->result = c.result;
    EXPECT_EQ(installer->UpdatePlugins(false), 2) << c.name;
    EXPECT_FALSE(fs::exists(PackageFolder() / "21.0-Version.txt")) << c.name;
    EXPECT_FALSE(fs::exists(Language() / "PluginConfig.txt")) << c.name;
  }
  EXPECT_TRUE(log_.Has("error", "Plugin package integrity check failed."));
  EXPECT_TRUE(log_.Has("error", "Expected checksum 0x0012345678"));
  EXPECT_TRUE(log_.HasFragment("error", "Failed to extract zip: "));
  EXPECT_TRUE(log_.HasFragment("error", ".zip (8)"));
}

TEST_F(PluginInstallerTest, HostileNamesChangeNothingOutside) {
  // A folder beside the package folder and one beside APPDATA stand for everything outside.
  const fs::path neighbour = dir_ / "appdata" / "Kelv" / "keep";
  const fs::path outside = dir_ / "outside";
  for (const fs::path& folder : {neighbour, outside}) {
    fs::create_directories(folder / "sub");
    testing::WriteFile(folder / "sub" / "file", "x");
  }
  struct Case {
    const char* key;
    std::string value;
  };
  const Case cases[] = {
      {"pluginurl", "http://127.0.0.1:18080/p/...zip"},
      {"pluginurl", "http://127.0.0.1:18080/p/..zip"},
      {"appversion", "../../../../outside/x"},
      {"appversion", "/abs"},
      {"pluginversion", "../keep"},
      {"pluginversion", "../../.."},
  };
  for (const Case& c : cases) {
    ParameterList values = Values("1.0");
    for (auto& [key, value] : values) {
      if (key == c.key) value = c.value;
    }
    auto installer = Installer(values);
    server_->body = packages_["1.0"];
    EXPECT_EQ(installer->UpdatePlugins(false), 2) << c.key << "=" << c.value;
    EXPECT_EQ(server_->requests, 0) << c.value;
  }
  // A versions file that once recorded "../keep" or worse deletes nothing.
  fs::create_directories(PackageFolder());
  for (const std::string recorded : {"../keep", "../../../outside", "..", "../keep.zip"}) {
    testing::WriteFile(PackageFolder() / "21.0-Version.txt", recorded);
    EXPECT_EQ(Update(Values("1.0")), 2) << recorded;
    EXPECT_TRUE(log_.HasFragment("error", "Refused installed plug-ins version " + recorded));
  }
  EXPECT_TRUE(fs::exists(neighbour / "sub" / "file"));
  EXPECT_TRUE(fs::exists(outside / "sub" / "file"));
  EXPECT_FALSE(fs::exists(dir_ / "appdata" / "Adobe" / "InDesign" / "x"));
}

TEST_F(PluginInstallerTest, VersionsFileSizeLimitAndPackageNameLength) {
  fs::create_directories(PackageFolder());
  for (std::size_t size : {200u, 201u}) {
    testing::WriteFile(PackageFolder() / "21.0-Version.txt", std::string(size, '1'));
    EXPECT_EQ(Installer(Values("1.0"))->InstalledVersion().size(), size == 200 ? 200u : 0u);
  }
  ParameterList values = Values("1.0");
  values[2].second = "http://h/abc";
  EXPECT_TRUE(Installer(values)->PackagePath().empty());
  EXPECT_TRUE(log_.Has("error", "Parsed package name as abc. Expected it to be longer."));
  values[2].second = "http://h/abcd";
  EXPECT_EQ(Installer(values)->PackagePath(), PackageFolder() / "abcd");
  values[2].second = "none";
  EXPECT_TRUE(Installer(values)->PackagePath().empty());
  EXPECT_TRUE(log_.Has("error", "Couldn't parse none for the package name"));
}

TEST_F(PluginInstallerTest, TwoConcurrentUpdatesDownloadOnce) {
  ASSERT_TRUE(Installer(Values("1.0")));  // makes packages_ ready before the threads start
  auto first = Installer(Values("1.0"));
  auto firstServer = server_;
  auto second = Installer(Values("1.0"));
  auto secondServer = server_;
  int results[2] = {-1, -1};
  std::thread a([&] { results[0] = first->UpdatePlugins(false); });
  std::thread b([&] { results[1] = second->UpdatePlugins(false); });
  a.join();
  b.join();
  EXPECT_EQ(firstServer->requests + secondServer->requests, 1);
  EXPECT_EQ(results[0] + results[1], 1);  // one registered, the other found it current
}

TEST_F(PluginInstallerTest, OldVersionsRegisterTheFolderItselfAndExcludeOldPlugins) {
  fs::create_directories(dir_ / "app" / "Plug-Ins" / "Kelv Publishing");
  testing::WriteFile(dir_ / "app" / "Plug-Ins" / "Kelv Publishing" / "Old.pln", "");
  fs::create_directories(Language("InDesign", "Version 8.0", "en_US"));
  fs::create_directories(Language("InDesign", "Version 8.0", "fr_FR"));
  fs::create_directories(Language("InDesign", "Version 8.0", "notes"));
  auto installer = Installer(Values("1.0", "8.0"));
  const auto languages = installer->LanguageFolders(PluginInstallerCmd::InDesign);
  ASSERT_EQ(languages.size(), 2u + 26u + 26u);
  EXPECT_EQ(languages[0], Language("InDesign", "Version 8.0", "en_US"));
  EXPECT_EQ(languages[1], Language("InDesign", "Version 8.0", "fr_FR"));
  EXPECT_TRUE(fs::is_directory(Language("InDesign", "Version 8.0-ME", "ko_KR")));

  const fs::path extracted = dir_ / "extracted";
  EXPECT_TRUE(installer->DeployPlugins(extracted));
  EXPECT_FALSE(installer->DeployPlugins(extracted));
  const std::string expected = "=Exclude\r\n" +
                               Quoted(dir_ / "app" / "Plug-Ins" / "Kelv Publishing" / "Old.pln") +
                               "=Path\r\n" + Quoted(extracted);
  EXPECT_EQ(Config(Language("InCopy", "Version 8.0-J", "zh_TW")), expected);
  EXPECT_FALSE(fs::exists(Language("InDesign", "Version 8.0", "en_US") / "PluginConfig32.txt"));
  installer->RemovePlugins(extracted);
  EXPECT_EQ(Config(Language("InDesign", "Version 8.0", "fr_FR")),
            "=Exclude\r\n" + Quoted(dir_ / "app" / "Plug-Ins" / "Kelv Publishing" / "Old.pln") +
                "=Path\r\n");
}

TEST(PluginInstallerValues, CrcVersionAndPlatformRules) {
  const std::pair<const char*, std::uint32_t> crcs[] = {
      {"deadBEEF", 0xDEADBEEF}, {"0xDEADbeef", 0xDEADBEEF}, {"  0X1f", 0x1F}, {"xyz", 0}, {"", 0},
      {"123456789", 0}};
  for (const auto& [text, value] : crcs)
    EXPECT_EQ(PluginInstallerCmd::ParseCrc(text), value) << text;
  const std::pair<const char*, bool> versions[] = {{"9", true},    {"9.0", true},  {"21.0.1", true},
                                                   {"8.9", false}, {"abc", false}, {"", false}};
  for (const auto& [text, nine] : versions) {
    EXPECT_EQ(PluginInstallerCmd::IsVersion9OrLater(text), nine) << text;
  }
  EXPECT_EQ(PluginInstallerCmd::PlatformSubfolder("/a/PluginConfig32.txt"), "Win32");
  EXPECT_EQ(PluginInstallerCmd::PlatformSubfolder("/a/PluginConfig.txt"), "x64");
  EXPECT_EQ(PluginInstallerCmd::PlatformSubfolder("/a3/PluginConfig.txt"), "x64");
  EXPECT_EQ(PluginInstallerCmd::DefaultLanguageNames().size(), 26u);
}

}  // namespace
}  // namespace hopwell
