#include "storage/ZipExtractor.h"

#include <sys/stat.h>

#include <cctype>
#include <map>
#include <sstream>

#include <gtest/gtest.h>
#include <zlib.h>
#include <boost/filesystem/operations.hpp>

#include "ArchiveTools.h"
#include "base/CancelToken.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::LogCapture;
using testing::ReadFile;
using testing::RunCommand;
using testing::RunPython;
using testing::ShellQuote;
using testing::TempDir;
using testing::WriteFile;

// Writes archives with Python's zipfile, each from a path and a JSON list of entries:
// {"name", "data", "method": stored|deflated|bzip2, "mode": unix mode for the attributes,
//  "system": the maker's system code (default 3, Unix, when a mode is given)}.
const char* const kMakeArchive = R"(
import json, sys, zipfile
methods = {'stored': zipfile.ZIP_STORED, 'deflated': zipfile.ZIP_DEFLATED,
           'bzip2': zipfile.ZIP_BZIP2}
for path, entries in zip(sys.argv[1::2], sys.argv[2::2]):
    with zipfile.ZipFile(path, 'w') as archive:
        for entry in json.loads(entries):
            info = zipfile.ZipInfo(entry['name'], date_time=(2020, 1, 2, 3, 4, 6))
            info.compress_type = methods[entry.get('method', 'deflated')]
            if 'mode' in entry:
                info.create_system = entry.get('system', 3)
                info.external_attr = entry['mode'] << 16
            archive.writestr(info, entry.get('data', '').encode('utf-8'))
)";

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (fs::recursive_directory_iterator it(folder), end; it != end; ++it) {
    names.push_back(it->path().lexically_relative(folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// bytes with a bit flipped in every copy of data's CRC-32 (the entry's local header and its
// central directory record): the entry, stored or deflated, no longer matches its checksum.
std::string WithBadChecksum(std::string bytes, const std::string& data) {
  const uLong crc = crc32(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()),
                          static_cast<uInt>(data.size()));
  std::string field(4, '\0');
  for (int i = 0; i < 4; ++i) field[i] = static_cast<char>((crc >> (8 * i)) & 0xFFu);
  int found = 0;
  for (auto at = bytes.find(field); at != std::string::npos; at = bytes.find(field, at + 1)) {
    bytes[at] = static_cast<char>(bytes[at] ^ 1);
    ++found;
  }
  EXPECT_EQ(found, 2);
  return bytes;
}

class ZipExtractorTest : public ::testing::Test {
 protected:
  // A sandbox holding the archive and the destination, so that anything written beside
  // the destination shows up in the sandbox's listing.
  fs::path Archive() const { return sandbox_ / "archive.zip"; }
  fs::path Destination() const { return sandbox_ / "dest"; }

  void MakeArchive(const std::string& entriesJson) {
    std::string output;
    ASSERT_EQ(RunPython(kMakeArchive, {Archive().string(), entriesJson}, &output), 0) << output;
    testing::KeepFuzzSeed("zip", ReadFile(Archive()));
  }

  TempDir dir_;
  fs::path sandbox_ = dir_.path() / "sandbox";
  void SetUp() override { fs::create_directories(Destination()); }
};

TEST_F(ZipExtractorTest, ArchiveFromDebianZipExtractsWithItsFolders) {
  const fs::path source = dir_ / "source";
  std::string big;
  for (int i = 0; big.size() < (6u << 20); ++i) {
    big += "line " + std::to_string(i * 7919 % 104729) + " of a long file\n";
    big.push_back(static_cast<char>(i * 31));
  }
  WriteFile(source / "top" / "big.bin", big);
  WriteFile(source / "top" / "empty.txt", "");
  WriteFile(source / "top" / "sub" /
                "Gr\xc3\xbc\xc3\x9f"
                "e.txt",
            "umlauts");
  fs::create_directories(source / "top" / "hollow");
  std::string output;
  ASSERT_EQ(RunCommand("cd " + ShellQuote(source.string()) + " && zip -q -r " +
                           ShellQuote(Archive().string()) + " top",
                       &output),
            0)
      << output;

  LogCapture log;
  std::vector<fs::path> extracted;
  ASSERT_TRUE(ZipExtractor(Archive()).Extract(true, Destination(), &extracted));
  EXPECT_EQ(ReadFile(Destination() / "top" / "big.bin"), big);
  EXPECT_EQ(ReadFile(Destination() / "top" / "empty.txt"), "");
  EXPECT_EQ(ReadFile(Destination() / "top" / "sub" /
                     "Gr\xc3\xbc\xc3\x9f"
                     "e.txt"),
            "umlauts");
  // Folder entries are skipped: no folder is made for an empty one.
  EXPECT_FALSE(fs::exists(Destination() / "top" / "hollow"));
  EXPECT_TRUE(log.Has("trace", "Encountered unnamed file in zip: top/"));
  EXPECT_TRUE(log.Has("trace", "Encountered unnamed file in zip: top/hollow/"));
  std::size_t files = 0, folders = 0;
  for (const auto& path : extracted) {
    if (path.empty()) {
      ++folders;
    } else {
      ++files;
      EXPECT_TRUE(fs::is_regular_file(path)) << path;
    }
  }
  EXPECT_EQ(files, 3u);
  EXPECT_EQ(folders, 3u);  // top/, top/sub/, top/hollow/
}

TEST_F(ZipExtractorTest, FlatModePutsEveryFileIntoTheDestination) {
  MakeArchive(
      R"([{"name": "a/same.txt", "data": "first"}, {"name": "b\\same.txt", "data": "second"},
                  {"name": "c/d/other.txt", "data": "x", "method": "stored"}])");
  std::vector<fs::path> extracted;
  ASSERT_TRUE(ZipExtractor(Archive()).Extract(false, Destination(), &extracted));
  EXPECT_EQ(Listing(Destination()), (std::vector<std::string>{"other.txt", "same.txt"}));
  EXPECT_EQ(ReadFile(Destination() / "same.txt"), "second");
  EXPECT_EQ(extracted,
            (std::vector<fs::path>{Destination() / "same.txt", Destination() / "same.txt",
                                   Destination() / "other.txt"}));
}

TEST_F(ZipExtractorTest, ArchivesThatCannotBeOpened) {
  LogCapture log;
  EXPECT_FALSE(ZipExtractor(dir_ / "missing.zip").Extract(true, Destination()));
  EXPECT_TRUE(log.HasFragment("error", "missing.zip\" for decompression"));
  EXPECT_TRUE(log.Has("error", "\"" + (dir_ / "missing.zip").string() + "\" does not exist"));

  EXPECT_FALSE(ZipExtractor(dir_.path()).Extract(true, Destination()));
  EXPECT_TRUE(log.Has("error", "\"" + dir_.path().string() + "\" is not a regular file"));

  WriteFile(Archive(), "PK\x03\x04 this is not really an archive");
  fs::permissions(Archive(), fs::perms(0640));
  EXPECT_FALSE(ZipExtractor(Archive()).Extract(true, Destination()));
  EXPECT_TRUE(log.Has("error", "perms: 416"));
  EXPECT_TRUE(fs::is_empty(Destination()));
}

TEST_F(ZipExtractorTest, EmptyArchiveSucceeds) {
  MakeArchive("[]");
  std::vector<fs::path> extracted;
  EXPECT_TRUE(ZipExtractor(Archive()).Extract(true, Destination(), &extracted));
  EXPECT_TRUE(extracted.empty());
}

TEST_F(ZipExtractorTest, CrcMismatchEndsTheExtractionAfterWritingTheEntry) {
  MakeArchive(R"([{"name": "one.txt", "data": "good"},
                  {"name": "two.txt", "data": "CORRUPTME and more", "method": "stored"},
                  {"name": "three.txt", "data": "never"}])");
  std::string bytes = ReadFile(Archive());
  const auto at = bytes.find("CORRUPTME");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'K';
  WriteFile(Archive(), bytes);
  testing::KeepFuzzSeed("zip", bytes);

  LogCapture log;
  std::vector<fs::path> extracted;
  EXPECT_FALSE(ZipExtractor(Archive()).Extract(true, Destination(), &extracted));
  EXPECT_EQ(ReadFile(Destination() / "two.txt"), "KORRUPTME and more");
  EXPECT_FALSE(fs::exists(Destination() / "three.txt"));
  EXPECT_EQ(extracted, std::vector<fs::path>{Destination() / "one.txt"});
  EXPECT_TRUE(log.Has("error", "error -105 with zipfile in unzCloseCurrentFile"));
  EXPECT_TRUE(log.Has("error", "Failed to open file: unzStatus -105"));
}

TEST_F(ZipExtractorTest, FirstEntryThatCannotBeOpenedWritesNothing) {
  MakeArchive(R"([{"name": "packed.txt", "data": "bzip2 is not supported", "method": "bzip2"},
                  {"name": "plain.txt", "data": "x"}])");
  LogCapture log;
  EXPECT_FALSE(ZipExtractor(Archive()).Extract(true, Destination()));
  EXPECT_TRUE(fs::is_empty(Destination()));
  EXPECT_TRUE(log.HasFragment("error", "Failed to open file: unzStatus "));
}

TEST_F(ZipExtractorTest, TruncatedArchiveFailsWithoutWriting) {
  std::string data(50000, 'z');
  MakeArchive(R"([{"name": "a.txt", "data": ")" + data + R"("}])");
  const std::string bytes = ReadFile(Archive());
  WriteFile(Archive(), bytes.substr(0, bytes.size() - 30));
  EXPECT_FALSE(ZipExtractor(Archive()).Extract(true, Destination()));
  EXPECT_TRUE(fs::is_empty(Destination()));
}

struct HostileEntry {
  const char* label;
  std::string json;   // entries of the archive; the last one is the hostile one
  std::string named;  // how the error log line names it
};

std::vector<HostileEntry> HostileEntries();

class HostileEntryTest : public ZipExtractorTest,
                         public ::testing::WithParamInterface<std::tuple<HostileEntry, bool>> {
 public:
  // All archives are made by one Python run; each test writes its own copy.
  static void SetUpTestSuite() {
    TempDir made;
    std::vector<std::string> arguments;
    for (const auto& entry : HostileEntries()) {
      arguments.push_back((made / entry.label).string());
      arguments.push_back(entry.json);
    }
    std::string output;
    ASSERT_EQ(RunPython(kMakeArchive, arguments, &output), 0) << output;
    for (const auto& entry : HostileEntries()) {
      archives_[entry.label] = ReadFile(made / entry.label);
      testing::KeepFuzzSeed("zip", archives_[entry.label]);
    }
  }
  static inline std::map<std::string, std::string> archives_;
};

TEST_P(HostileEntryTest, IsRefusedAndNothingLeavesTheDestination) {
  const auto& [entry, keepFolders] = GetParam();
  WriteFile(Archive(), archives_[entry.label]);
  LogCapture log;
  std::vector<fs::path> extracted;
  EXPECT_FALSE(ZipExtractor(Archive()).Extract(keepFolders, Destination(), &extracted));
  EXPECT_TRUE(log.HasFragment("error", entry.named)) << entry.named;
  EXPECT_TRUE(log.HasFragment("error", "Failed to open file: unzStatus "));
  // Only the harmless first entry was written, and nothing beside the destination.
  EXPECT_EQ(Listing(sandbox_), (std::vector<std::string>{"archive.zip", "dest", "dest/ok.txt"}));
  EXPECT_EQ(extracted.size(), 1u);
  EXPECT_FALSE(fs::exists(dir_ / "evil.txt"));
}

std::string Hostile(const std::string& name, const std::string& extra = "") {
  return R"([{"name": "ok.txt", "data": "fine"}, {"name": ")" + name + R"(", "data": "evil")" +
         extra + "}]";
}

std::vector<HostileEntry> HostileEntries() {
  return {HostileEntry{"DotDot", Hostile("../evil.txt"), "../evil.txt"},
          HostileEntry{"DeepDotDot", Hostile("a/b/../../../evil.txt"), "a/b/../../../evil.txt"},
          HostileEntry{"Absolute", Hostile("/tmp/evil.txt"), "/tmp/evil.txt"},
          HostileEntry{"Backslash", Hostile("..\\\\evil.txt"), "..\\evil.txt"},
          HostileEntry{"MixedSlashes", Hostile("sub\\\\..\\\\../evil.txt"), "sub\\..\\../evil.txt"},
          HostileEntry{"LeadingBackslash", Hostile("\\\\evil.txt"), "\\evil.txt"},
          HostileEntry{"DriveLetter", Hostile("C:\\\\evil.txt"), "C:\\evil.txt"},
          HostileEntry{"DriveSlash", Hostile("C:/evil.txt"), "C:/evil.txt"},
          HostileEntry{"Symlink", Hostile("link", R"(, "mode": 41471)"), "link"},
          HostileEntry{"SymlinkInFolder", Hostile("sub/evil.txt", R"(, "mode": 41471)"),
                       "sub/evil.txt"}};
}

INSTANTIATE_TEST_SUITE_P(Names, HostileEntryTest,
                         ::testing::Combine(::testing::ValuesIn(HostileEntries()),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).label) +
                                  (std::get<1>(info.param) ? "Kept" : "Flat");
                         });

TEST_F(ZipExtractorTest, LinksAlreadyInTheDestinationAreNotWrittenThrough) {
  const fs::path outside = dir_ / "outside";
  WriteFile(outside / "victim.txt", "precious");
  WriteFile(outside / "hard.txt", "precious");
  fs::create_symlink(outside, Destination() / "linked");
  fs::create_symlink(outside / "victim.txt", Destination() / "victim.txt");
  fs::create_hard_link(outside / "hard.txt", Destination() / "hard.txt");

  MakeArchive(R"([{"name": "victim.txt", "data": "replaced"},
                  {"name": "hard.txt", "data": "replaced"}])");
  ASSERT_TRUE(ZipExtractor(Archive()).Extract(true, Destination()));
  for (const char* name : {"victim.txt", "hard.txt"}) {
    EXPECT_EQ(ReadFile(outside / name), "precious") << name;
    EXPECT_FALSE(fs::is_symlink(Destination() / name)) << name;
    EXPECT_EQ(ReadFile(Destination() / name), "replaced") << name;
  }
  EXPECT_EQ(fs::hard_link_count(Destination() / "hard.txt"), 1u);

  MakeArchive(R"([{"name": "linked/new.txt", "data": "evil"}])");
  LogCapture log;
  EXPECT_FALSE(ZipExtractor(Archive()).Extract(true, Destination()));
  EXPECT_FALSE(fs::exists(outside / "new.txt"));
  EXPECT_TRUE(log.HasFragment("error", "linked/new.txt"));
}

TEST_F(ZipExtractorTest, EntryThatCannotBeWrittenFailsTheExtraction) {
  fs::create_directories(Destination() / "taken");
  MakeArchive(R"([{"name": "taken", "data": "x"}, {"name": "later.txt", "data": "y"}])");
  LogCapture log;
  EXPECT_FALSE(ZipExtractor(Archive()).Extract(true, Destination()));
  EXPECT_FALSE(fs::exists(Destination() / "later.txt"));
  EXPECT_TRUE(log.HasFragment("error", "Failed to create"));
}

struct ModeCase {
  const char* label;
  std::string entry;  // "mode" and "system" members of the entry
  mode_t umask;
  bool replaces;    // a set-id, sticky, world-writable file is in the way
  mode_t examined;  // the bits compared
  mode_t expected;
};

class ExtractedModeTest : public ZipExtractorTest,
                          public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ExtractedModeTest, KeepsOwnerExecuteOnly) {
  const ModeCase& mode = GetParam();
  const fs::path target = Destination() / "tool";
  if (mode.replaces) {
    WriteFile(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 07777), 0);
  }
  MakeArchive(R"([{"name": "tool", "data": "x")" + mode.entry + "}]");

  const mode_t previous = ::umask(mode.umask);
  const bool extracted = ZipExtractor(Archive()).Extract(true, Destination());
  ::umask(previous);
  ASSERT_TRUE(extracted);
  struct stat status {};
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & mode.examined, mode.expected) << std::oct << status.st_mode;
}

constexpr mode_t kAll = 07777;
constexpr mode_t kRisky = S_ISUID | S_ISGID | S_ISVTX | S_IWOTH | S_IXUSR;

INSTANTIATE_TEST_SUITE_P(
    Entries, ExtractedModeTest,
    ::testing::Values(
        ModeCase{"UnixProgram", R"(, "mode": 33261)", 022, false, kAll, 0744},
        ModeCase{"UnixPlainFile", R"(, "mode": 33188)", 022, false, kAll, 0644},
        ModeCase{"SetIdStickyWorldWritable", R"(, "mode": 36863)", 022, false, kAll, 0744},
        ModeCase{"GroupWritableUmask", R"(, "mode": 33279)", 002, false, kAll, 0764},
        ModeCase{"MadeOnWindows", R"(, "mode": 33261, "system": 0)", 022, false, kAll, 0644},
        ModeCase{"NoAttributes", "", 022, false, kAll, 0644},
        ModeCase{"ReplacedRiskyFile", R"(, "mode": 33188)", 022, true, kRisky, 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ZipExtractorTest, LongNamesAreNotCutShort) {
  const std::string folder(200, 'f');
  const std::string file = std::string(246, 'n') + ".txt";
  MakeArchive(R"([{"name": ")" + folder + "/" + file + R"(", "data": "long"}])");
  // The second run replaces the file, through a name that must fit beside it.
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(ZipExtractor(Archive()).Extract(true, Destination())) << run;
    EXPECT_EQ(ReadFile(Destination() / folder / file), "long");
    EXPECT_EQ(Listing(Destination()).size(), 2u);
  }
}

// A target that already exists (a file of the user's, a hard or symbolic link to one
// outside) is replaced only by a whole, checked entry: one whose checksum does not match
// leaves it as it was. A user's file that has the name the new data is first written to is
// left alone too.
enum class Planted { File, HardLink, SymbolicLink };

class ReplacedTargetTest
    : public ZipExtractorTest,
      public ::testing::WithParamInterface<std::tuple<Planted, const char*, bool>> {};

TEST_P(ReplacedTargetTest, IsReplacedOnlyByAWholeEntry) {
  const auto& [planted, method, corrupt] = GetParam();
  const fs::path outside = dir_ / "outside" / "victim.txt";
  const fs::path target = Destination() / "doc.txt";
  WriteFile(outside, "precious");
  WriteFile(Destination() / ".doc.txt.part", "the user's");
  switch (planted) {
    case Planted::File:
      WriteFile(target, "old");
      break;
    case Planted::HardLink:
      fs::create_hard_link(outside, target);
      break;
    case Planted::SymbolicLink:
      fs::create_symlink(outside, target);
      break;
  }
  const std::string data(3000, 'd');
  MakeArchive(R"([{"name": "doc.txt", "data": ")" + data + R"(", "method": ")" + method + "\"}]");
  if (corrupt) WriteFile(Archive(), WithBadChecksum(ReadFile(Archive()), data));
  LogCapture log;
  EXPECT_EQ(ZipExtractor(Archive()).Extract(true, Destination()), !corrupt);
  EXPECT_EQ(ReadFile(outside), "precious");
  EXPECT_EQ(ReadFile(Destination() / ".doc.txt.part"), "the user's");
  EXPECT_EQ(Listing(Destination()), (std::vector<std::string>{".doc.txt.part", "doc.txt"}));
  if (!corrupt) {
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(ReadFile(target), data);
    EXPECT_EQ(fs::hard_link_count(target), 1u);
    return;
  }
  EXPECT_TRUE(log.HasFragment("error", "Failed to open file: unzStatus "));
  EXPECT_EQ(fs::is_symlink(fs::symlink_status(target)), planted == Planted::SymbolicLink);
  EXPECT_EQ(ReadFile(target), planted == Planted::File ? "old" : "precious");
  if (planted == Planted::HardLink) {
    EXPECT_EQ(fs::hard_link_count(target), 2u);
  }
}

std::string ReplacedTargetName(
    const ::testing::TestParamInfo<ReplacedTargetTest::ParamType>& info) {
  static const char* const kPlanted[] = {"File", "HardLink", "SymbolicLink"};
  const std::string method = std::get<1>(info.param);
  return std::string(kPlanted[static_cast<int>(std::get<0>(info.param))]) +
         static_cast<char>(std::toupper(method[0])) + method.substr(1) +
         (std::get<2>(info.param) ? "BadChecksum" : "Whole");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ReplacedTargetTest,
    ::testing::Combine(::testing::Values(Planted::File, Planted::HardLink, Planted::SymbolicLink),
                       ::testing::Values("stored", "deflated"), ::testing::Bool()),
    ReplacedTargetName);

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for (fs::directory_iterator it("/proc/self/fd"), end; it != end; ++it) ++count;
  return count;
}

// Many entries, extracted by one thread and by several: the result, the log, the output list
// and what is left on disk must be those of one thread, with the first failure's message and
// nothing of the entries after it. Two links are planted where entries 13 and 14 go.
struct ParallelCase {
  const char* label;
  bool keepFolders;
  int failAt;        // -1: every entry is fine
  bool refusedName;  // the failing entry has a hostile name instead of a bad checksum
};

class ParallelExtractionTest : public ZipExtractorTest,
                               public ::testing::WithParamInterface<ParallelCase> {};

struct ExtractionResult {
  bool ok = false;
  std::vector<fs::path> output;
  std::vector<std::string> log;
  std::vector<std::string> listing;
};

TEST_P(ParallelExtractionTest, ActsAsOneThreadInArchiveOrder) {
  const ParallelCase& param = GetParam();
  constexpr int kEntries = 48;
  std::ostringstream json;
  std::string failingData;
  json << "[";
  for (int i = 0; i < kEntries; ++i) {
    std::string name = "dir" + std::to_string(i / 8) + "/";
    if (i % 8 != 0) name += "f" + std::to_string(i) + ".txt";
    if (i == param.failAt && param.refusedName) name = "../evil" + std::to_string(i);
    const std::string data =
        i % 8 == 0 ? "" : std::string(500 + 97 * i, static_cast<char>('a' + i % 26));
    if (i == param.failAt) failingData = data;
    json << (i > 0 ? "," : "") << R"({"name": ")" << name << R"(", "data": ")" << data
         << R"(", "method": ")" << (i % 3 == 0 ? "deflated" : "stored") << R"("})";
  }
  json << "]";
  MakeArchive(json.str());
  if (param.failAt >= 0 && !param.refusedName) {
    WriteFile(Archive(), WithBadChecksum(ReadFile(Archive()), failingData));
  }
  const auto target = [&](int i) {
    const std::string file = "f" + std::to_string(i) + ".txt";
    return param.keepFolders ? Destination() / ("dir" + std::to_string(i / 8)) / file
                             : Destination() / file;
  };
  const fs::path outside = dir_ / "outside";

  const auto run = [&](unsigned threads) {
    fs::remove_all(Destination());
    fs::remove_all(outside);
    WriteFile(outside / "hard.txt", "precious");
    WriteFile(outside / "soft.txt", "precious");
    fs::create_directories(target(13).parent_path());
    fs::create_hard_link(outside / "hard.txt", target(13));
    fs::create_symlink(outside / "soft.txt", target(14));
    ExtractionResult result;
    const std::size_t descriptors = OpenDescriptors();
    LogCapture log;
    ZipExtractor extractor(Archive());
    extractor.SetMaxThreads(threads);
    result.ok = extractor.Extract(param.keepFolders, Destination(), &result.output);
    EXPECT_EQ(OpenDescriptors(), descriptors) << threads << " threads";
    for (const auto& record : log.Records())
      result.log.push_back(record.severity + " " + record.message);
    result.listing = Listing(Destination());
    for (const char* name : {"hard.txt", "soft.txt"}) {
      EXPECT_EQ(ReadFile(outside / name), "precious") << threads << " threads";
    }
    return result;
  };

  const ExtractionResult one = run(1);
  const int reached = param.failAt < 0 ? kEntries : param.failAt;
  EXPECT_EQ(one.ok, param.failAt < 0);
  ASSERT_EQ(one.output.size(), static_cast<std::size_t>(reached));
  for (int i = 0; i < reached; ++i) {
    EXPECT_EQ(one.output[i], i % 8 == 0 ? fs::path() : target(i)) << i;
    if (i % 8 != 0) {
      EXPECT_FALSE(fs::is_symlink(target(i))) << i;
      EXPECT_EQ(fs::file_size(target(i)), 500u + 97u * i) << i;
    }
  }
  // The entries after the failure were never reached: the planted links are still there.
  EXPECT_EQ(fs::is_symlink(fs::symlink_status(target(14))), reached <= 14);
  if (param.failAt >= 0) {
    ASSERT_FALSE(one.log.empty());
    EXPECT_EQ(one.log.back().rfind("error Failed to open file: unzStatus ", 0), 0u)
        << one.log.back();
  }
  for (const unsigned threads : {2u, 4u}) {
    const ExtractionResult many = run(threads);
    EXPECT_EQ(many.ok, one.ok) << threads << " threads";
    EXPECT_EQ(many.output, one.output) << threads << " threads";
    EXPECT_EQ(many.log, one.log) << threads << " threads";
    EXPECT_EQ(many.listing, one.listing) << threads << " threads";
  }
}

INSTANTIATE_TEST_SUITE_P(Archives, ParallelExtractionTest,
                         ::testing::Values(ParallelCase{"AllKept", true, -1, false},
                                           ParallelCase{"AllFlat", false, -1, false},
                                           ParallelCase{"ChecksumFailsAtSecond", true, 1, false},
                                           ParallelCase{"ChecksumFailsMidway", true, 21, false},
                                           ParallelCase{"ChecksumFailsLastFlat", false, 47, false},
                                           ParallelCase{"RefusedNameMidway", true, 30, true},
                                           ParallelCase{"RefusedNameFlat", false, 9, true}),
                         [](const auto& info) { return std::string(info.param.label); });

// The stop check answering yes from its first, second, ... question on: the extraction
// ends as failed at some entry, every entry before it whole and listed, the log naming it.
TEST_F(ZipExtractorTest, StopCheckEndsTheExtractionAtAnEntry) {
  const std::vector<std::string> names{"a.txt", "b.txt", "c.txt"};
  const std::string big(100 << 10, 'b');
  MakeArchive(R"([{"name": "a.txt", "data": "1"}, {"name": "b.txt", "data": ")" + big +
              R"(", "method": "stored"}, {"name": "c.txt", "data": "3"}])");
  std::size_t reached = 0;
  for (int answersFrom = 1; reached < names.size(); ++answersFrom) {
    ASSERT_LT(answersFrom, 20) << "the stop check is asked without end";
    fs::remove_all(Destination());
    int asked = 0;
    ZipExtractor extractor(Archive());
    extractor.SetStopCheck([&] { return ++asked >= answersFrom; });
    LogCapture log;
    std::vector<fs::path> extracted;
    const bool ok = extractor.Extract(true, Destination(), &extracted);
    ASSERT_GE(extracted.size(), reached) << answersFrom;
    reached = extracted.size();
    ASSERT_LE(reached, names.size());
    EXPECT_EQ(ok, reached == names.size()) << answersFrom;
    for (std::size_t i = 0; i < reached; ++i) {
      EXPECT_EQ(extracted[i], Destination() / names[i]);
      EXPECT_EQ(ReadFile(extracted[i]), i == 0 ? "1" : i == 1 ? big : "3");
    }
    if (reached < names.size()) {
      EXPECT_TRUE(log.Has("info", "Extraction stopped before " + names[reached])) << answersFrom;
    }
  }
}

// A cancelled job: asked before its first entry, no thread writes anything; asked while an
// entry is written (the stop check cancels the token at its second question, in the copy),
// the entry fails and the extraction ends there.
TEST_F(ZipExtractorTest, CancelledJobEndsTheExtractionInEveryThread) {
  std::string entries = "[";
  for (int i = 0; i < 8; ++i) {
    entries += std::string(i > 0 ? "," : "") + R"({"name": "f)" + std::to_string(i) +
               R"(.txt", "data": "data", "method": "stored"})";
  }
  MakeArchive(entries + "]");
  struct Case {
    unsigned threads;
    int cancelAt;  // 0: before the extraction
    std::string logged;
  };
  const std::string archive = "\"" + Archive().string() + "\"";
  for (const Case& test : {Case{1, 0, "Extraction of " + archive + " cancelled"},
                           Case{4, 0, "Extraction of " + archive + " cancelled"},
                           Case{1, 2,
                                "Extraction cancelled while writing \"" +
                                    (Destination() / "f0.txt").string() + "\""}}) {
    fs::remove_all(Destination());
    const auto token = std::make_shared<CancelToken>();
    if (test.cancelAt == 0) token->Cancel();
    const CancelScope scope(token);
    int asked = 0;
    ZipExtractor extractor(Archive());
    extractor.SetMaxThreads(test.threads);
    extractor.SetStopCheck([&] {
      if (++asked == test.cancelAt) token->Cancel();
      return false;
    });
    LogCapture log;
    std::vector<fs::path> extracted;
    EXPECT_FALSE(extractor.Extract(true, Destination(), &extracted)) << test.logged;
    EXPECT_TRUE(extracted.empty()) << test.logged;
    EXPECT_TRUE(log.Has("info", test.logged)) << test.logged;
    const std::vector<std::string> left =
        fs::exists(Destination()) ? Listing(Destination()) : std::vector<std::string>{};
    EXPECT_EQ(left.size(), test.cancelAt == 0 ? 0u : 1u) << test.logged;
  }
}

}  // namespace
}  // namespace hopwell
