#include "storage/DurableFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/TempDir.h"
#include "intake/JobStatus.h"
#include "storage/ArchiveContents.h"
#include "storage/ZipExtractor.h"
#include "storage/ZipFiles.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ReplaceFileDurablyTest, TakesOverAKilledWriteAndWaitsForALiveOne) {
  TempDir dir;
  const fs::path file = dir / "CurrentDocuments.cdb";
  WriteFile(file, "old rows");
  // What a write killed before its rename left: taken over, never renamed as it was.
  WriteFile(DurableTemporaryPath(file), "half of the new ro");
  boost::system::error_code error;
  ASSERT_TRUE(ReplaceFileDurably(file, "new rows", error)) << error.message();
  EXPECT_EQ(ReadFile(file), "new rows");
  EXPECT_FALSE(fs::exists(DurableTemporaryPath(file)));

  // A writer at work holds the temporary file's lock: the next one waits for it.
  WriteFile(DurableTemporaryPath(file), "being written");
  const int held = ::open(DurableTemporaryPath(file).c_str(), O_RDWR);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::atomic<bool> done{false};
  std::thread next([&] {
    boost::system::error_code nextError;
    EXPECT_TRUE(ReplaceFileDurably(file, "after the other", nextError));
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done);
  // The other writer finishes: its file goes to the name, then the waiting one writes.
  ASSERT_EQ(::rename(DurableTemporaryPath(file).c_str(), file.c_str()), 0);
  ::close(held);
  next.join();
  EXPECT_EQ(ReadFile(file), "after the other");
}

TEST(ReplaceFileDurablyTest, ConcurrentWritersLeaveOneWholeVersion) {
  TempDir dir;
  const fs::path file = dir / "PluginConfig.txt";
  std::vector<std::string> versions;
  for (char c = 'a'; c < 'i'; ++c) versions.push_back(std::string(100000, c));
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (const std::string& version : versions) {
    writers.emplace_back([&, version] {
      for (int i = 0; i < 20; ++i) {
        boost::system::error_code error;
        if (!ReplaceFileDurably(file, version, error)) ++failures;
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(failures, 0);
  EXPECT_NE(std::find(versions.begin(), versions.end(), ReadFile(file)), versions.end());
  EXPECT_FALSE(fs::exists(DurableTemporaryPath(file)));
}

TEST(FirstEntryNotHeldTest, NamesWhatAnExtractedFolderLacks) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> entries = {{"Scripts/start.jsx", "script"},
                                                                    {"x64/Kelv.pln", "x64 plug-in"},
                                                                    {"x64/Resources/UI.pln", "ui"}};
  std::vector<fs::path> sources;
  std::vector<std::string> names;
  for (const auto& [name, data] : entries) {
    sources.push_back(dir / ("source" + std::to_string(sources.size())));
    WriteFile(sources.back(), data);
    names.push_back(name);
  }
  const fs::path package = dir / "1.0.zip";
  ASSERT_TRUE(ZipFiles(sources, names, package, 0,
                       std::make_shared<JobStatus>(ActionKind::Install, "", "")));
  const fs::path folder = dir / "1.0";
  struct Damage {
    const char* name;
    std::function<void()> apply;
    std::string lacks;
  };
  const Damage damages[] = {
      {"whole", [] {}, ""},
      {"sub-folder removed", [&] { fs::remove_all(folder / "x64"); }, "x64/Kelv.pln"},
      {"file cut short", [&] { WriteFile(folder / "x64/Resources/UI.pln", "u"); },
       "x64/Resources/UI.pln"},
      {"file swapped for a link",
       [&] {
         fs::remove(folder / "Scripts/start.jsx");
         WriteFile(dir / "elsewhere", "script");
         fs::create_symlink(dir / "elsewhere", folder / "Scripts/start.jsx");
       },
       "Scripts/start.jsx"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    fs::remove_all(folder);
    ASSERT_TRUE(ZipExtractor(package).Extract(true, folder));
    damage.apply();
    EXPECT_EQ(FirstEntryNotHeld(package, folder), damage.lacks);
    boost::system::error_code error;
    EXPECT_TRUE(SyncTree(folder, error)) << error.message();
  }
  WriteFile(package, "no archive");
  EXPECT_EQ(FirstEntryNotHeld(package, folder), std::nullopt);
}

}  // namespace
}  // namespace hopwell
