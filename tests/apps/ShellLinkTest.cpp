#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "apps/ShellLink.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using Bytes = std::vector<unsigned char>;

void Put32(Bytes& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void Append(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

void AppendWide(Bytes& out, const std::u16string& text) {
  for (char16_t c : text) {
    out.push_back(static_cast<unsigned char>(c & 0xFF));
    out.push_back(static_cast<unsigned char>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

// A shell link as the shell writes one: header, an optional item-id list, then link info
// with a volume id, the local base path and the common path suffix (ANSI, and UTF-16 when
// wide is set).
Bytes MakeLink(const std::string& base, const std::string& suffix, bool withIdList,
               const std::u16string& wideBase = {}) {
  Bytes link(0x4C, 0);
  Put32(link, 0, 0x4C);
  const unsigned char clsid[] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  std::copy(std::begin(clsid), std::end(clsid), link.begin() + 4);
  Put32(link, 20, 0x2 | (withIdList ? 0x1 : 0));
  if (withIdList) {
    link.push_back(4);
    link.push_back(0);
    link.insert(link.end(), {2, 0, 0, 0});
  }
  const std::uint32_t headerSize = wideBase.empty() ? 0x1C : 0x24;
  Bytes body(headerSize, 0);
  Put32(body, 4, headerSize);
  Put32(body, 8, 1);
  Put32(body, 12, static_cast<std::uint32_t>(body.size()));
  body.insert(body.end(), {0x11, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0});
  Put32(body, 16, static_cast<std::uint32_t>(body.size()));
  Append(body, base);
  Put32(body, 24, static_cast<std::uint32_t>(body.size()));
  Append(body, suffix);
  if (!wideBase.empty()) {
    Put32(body, 28, static_cast<std::uint32_t>(body.size()));
    AppendWide(body, wideBase);
    Put32(body, 32, static_cast<std::uint32_t>(body.size()));
    AppendWide(body, u"");
  }
  Put32(body, 0, static_cast<std::uint32_t>(body.size()));
  link.insert(link.end(), body.begin(), body.end());
  link.insert(link.end(), {0, 0, 0, 0});  // no extra data
  return link;
}

// Keeps a copy of each link as a seed for the shell-link fuzz target.
void KeepSeed(const Bytes& link, const std::string& name) {
  const char* seeds = std::getenv("HOPWELL_FUZZ_SEEDS");
  if (seeds == nullptr) return;
  fs::create_directories(fs::path(seeds) / "shelllink");
  testing::WriteFile(fs::path(seeds) / "shelllink" / name, std::string(link.begin(), link.end()));
}

struct LinkCase {
  const char* name;
  Bytes link;
  std::string target;
};

class ShellLinkTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(ShellLinkTest, ReadsLocalTargetAndSurvivesEveryTruncation) {
  const LinkCase& c = GetParam();
  KeepSeed(c.link, c.name);
  EXPECT_EQ(ReadShellLinkTarget(c.link.data(), c.link.size()), c.target);
  for (std::size_t size = 0; size < c.link.size(); ++size) {
    // A cut link never reads past its end (the sanitizer run proves it) and finds at most
    // the whole target.
    const std::string target = ReadShellLinkTarget(c.link.data(), size);
    EXPECT_TRUE(target.empty() || target == c.target) << size;
  }
  Bytes flipped = c.link;
  for (std::size_t at = 0; at < flipped.size(); ++at) {
    flipped[at] ^= 0xFF;
    (void)ReadShellLinkTarget(flipped.data(), flipped.size());
    flipped[at] ^= 0xFF;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Links, ShellLinkTest,
    ::testing::Values(LinkCase{"ansi", MakeLink("/opt/Adobe/", "InDesign.exe", false),
                               "/opt/Adobe/InDesign.exe"},
                      LinkCase{"idlist", MakeLink("C:\\Program Files\\Adobe\\InCopy.exe", "", true),
                               "C:\\Program Files\\Adobe\\InCopy.exe"},
                      LinkCase{"unicode", MakeLink("?", "", true, u"/opt/\u00c4dobe/InDesign.exe"),
                               "/opt/\xC3\x84"
                               "dobe/InDesign.exe"},
                      LinkCase{"not-a-link", Bytes(100, 0x4C), ""}),
    [](const ::testing::TestParamInfo<LinkCase>& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST(ResolveShortcut, SymbolicLinksAndLinkFiles) {
  testing::TempDir dir;
  fs::create_symlink("programs/InDesign.exe", dir / "relative.lnk");
  EXPECT_EQ(ResolveShortcut(dir / "relative.lnk"), dir / "programs/InDesign.exe");
  const Bytes link = MakeLink("/opt/", "InCopy.exe", true);
  testing::WriteFile(dir / "file.lnk", std::string(link.begin(), link.end()));
  EXPECT_EQ(ResolveShortcut(dir / "file.lnk"), fs::path("/opt/InCopy.exe"));
  testing::WriteFile(dir / "damaged.lnk", std::string(link.begin(), link.begin() + 90));
  EXPECT_TRUE(ResolveShortcut(dir / "damaged.lnk").empty());
  EXPECT_TRUE(ResolveShortcut(dir / "missing.lnk").empty());
  EXPECT_TRUE(ResolveShortcut(dir.path()).empty());
}

}  // namespace
}  // namespace hopwell
