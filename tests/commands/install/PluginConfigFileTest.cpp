#include <sys/stat.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "commands/install/PluginConfigFile.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "storage/DurableFile.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

struct ConfigCase {
  const char* name;
  std::string input;
  std::string output;  // after load and save
};

// ctest lists each case by its name.
void PrintTo(const ConfigCase& c, std::ostream* out) {
  *out << c.name;
}

// Keeps each input as a seed for the PluginConfig fuzz target.
void KeepSeed(const ConfigCase& c) {
  const char* seeds = std::getenv("HOPWELL_FUZZ_SEEDS");
  if (seeds == nullptr) return;
  fs::create_directories(fs::path(seeds) / "pluginconfig");
  testing::WriteFile(fs::path(seeds) / "pluginconfig" / c.name, c.input);
}

class PluginConfigRewrite : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(PluginConfigRewrite, ComesOutSortedWithCrLf) {
  const ConfigCase& c = GetParam();
  KeepSeed(c);
  testing::TempDir dir;
  const fs::path file = dir / "PluginConfig.txt";
  testing::WriteFile(file, c.input);
  const auto inode = [&] {
    struct stat status {};
    EXPECT_EQ(::stat(file.c_str(), &status), 0);
    return status.st_ino;
  };
  const ino_t before = inode();
  { PluginConfigFile config(file, true); }
  EXPECT_EQ(testing::ReadFile(file), c.output);
  EXPECT_FALSE(fs::exists(DurableTemporaryPath(file)));
  // Only a file whose bytes change is replaced; one already in order stays untouched.
  EXPECT_EQ(inode() == before, c.input == c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PluginConfigRewrite,
    ::testing::Values(
        ConfigCase{
            "bom_crlf_unnamed",
            "\xEF\xBB\xBFloose line\r\n\r\n=Path\r\n\"/a\"\r\n\r\n=Exclude\r\n\"/x.pln\"\r\n",
            "=Exclude\r\n\"/x.pln\"\r\n=Path\r\n\"/a\"\r\n"},
        ConfigCase{"lf_only", "=Zeta\nz\n=Alpha\na\nb", "=Alpha\r\na\r\nb\r\n=Zeta\r\nz\r\n"},
        ConfigCase{"repeated_section", "=Path\n\"/a\"\n=Other\n=Path\n\"/b\"\n",
                   "=Other\r\n=Path\r\n\"/a\"\r\n\"/b\"\r\n"},
        ConfigCase{"not_utf8", "=Path\n\"/\xFF\xC3(\"\n", "=Path\r\n\"/\xFF\xC3(\"\r\n"},
        ConfigCase{"empty", "", ""},
        ConfigCase{"in_order", "=Exclude\r\n\"/x.pln\"\r\n=Path\r\n\"/a\"\r\n",
                   "=Exclude\r\n\"/x.pln\"\r\n=Path\r\n\"/a\"\r\n"},
        ConfigCase{"only_unnamed", "a\nb\n", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginConfigFile, PathEntriesCompareWithoutLetterCase) {
  testing::LogCapture log;
  PluginConfigFile config("/nonexistent/PluginConfig.txt", false);
  EXPECT_FALSE(config.HasPathEntry("/a"));
  EXPECT_TRUE(log.Has("debug", "Did not find line"));
  config.LoadText("=Path\n\"/Plug-Ins/Kelv\"\n\"/\xC3\x84rger\"\n\"/other\"\n");
  EXPECT_FALSE(config.AddPathEntry("/plug-ins/KELV"));
  EXPECT_FALSE(config.AddPathEntry("/\xC3\xA4rger"));
  EXPECT_TRUE(config.AddPathEntry("/plug-ins/kelv2"));
  config.RemovePathEntry("/PLUG-INS/kelv");
  EXPECT_EQ(config.ToText(), "=Path\r\n\"/\xC3\x84rger\"\r\n\"/other\"\r\n\"/plug-ins/kelv2\"\r\n");
}

TEST(PluginConfigFile, ExcludesOnlyLowerCasePlnFilesAndDropsTheFolder) {
  testing::TempDir dir;
  const fs::path old = dir / "Plug-Ins" / "Kelv Publishing";
  fs::create_directories(old / "sub");
  testing::WriteFile(old / "a.pln", "");
  testing::WriteFile(old / "sub" / "b.pln", "");
  testing::WriteFile(old / "c.PLN", "");
  testing::WriteFile(old / "d.txt", "");
  PluginConfigFile config(dir / "PluginConfig.txt", false);
  config.AddPathEntry(old);
  config.ExcludePlugins(old);
  config.ExcludePlugins(old);
  const auto& sections = config.Sections();
  ASSERT_EQ(sections.count("=Exclude"), 1u);
  std::vector<std::string> excluded = sections.at("=Exclude");
  std::sort(excluded.begin(), excluded.end());
  EXPECT_EQ(excluded,
            (std::vector<std::string>{PluginConfigFile::QuotedLine(old / "a.pln"),
                                      PluginConfigFile::QuotedLine(old / "sub" / "b.pln")}));
  EXPECT_TRUE(sections.at("=Path").empty());
  // A missing folder adds no "=Exclude" section.
  PluginConfigFile other(dir / "Other.txt", false);
  other.ExcludePlugins(dir / "missing");
  EXPECT_TRUE(other.Sections().empty());
}

// A file that is there but cannot be read whole is never written back: the user's other
// registrations in it would be lost. A missing one is simply empty.
TEST(PluginConfigFile, UnreadableFileIsNeverWritten) {
  testing::TempDir dir;
  const fs::path unreadable = dir / "PluginConfig.txt";
  fs::create_directories(unreadable);  // opens, but every read fails
  {
    testing::LogCapture log;
    PluginConfigFile config(unreadable, true);
    EXPECT_EQ(config.ReadError(), "Is a directory");
    EXPECT_TRUE(log.HasFragment("error", "Failed to read "));
    config.AddPathEntry("/new");
    EXPECT_FALSE(config.SaveConfig());
    EXPECT_FALSE(log.HasFragment("error", "Failed to write"));
  }
  PluginConfigFile missing(dir / "none" / "PluginConfig.txt", false);
  EXPECT_TRUE(missing.LoadConfig());
  EXPECT_EQ(missing.ReadError(), "");
}

TEST(PluginConfigFile, FailedWriteKeepsTheOldFile) {
  testing::TempDir dir;
  const fs::path file = dir / "PluginConfig.txt";
  testing::WriteFile(file, "=Path\r\n\"/old\"\r\n");
  fs::create_directories(DurableTemporaryPath(file));  // the temporary cannot be made
  PluginConfigFile config(file, false);
  config.AddPathEntry("/new");
  EXPECT_FALSE(config.SaveConfig());
  EXPECT_EQ(testing::ReadFile(file), "=Path\r\n\"/old\"\r\n");
}

}  // namespace
}  // namespace hopwell
