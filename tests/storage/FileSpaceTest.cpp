#include "storage/FileSpace.h"

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

std::int64_t AllocatedBytes(const fs::path& file) {
  struct stat status {};
  return ::stat(file.c_str(), &status) == 0 ? static_cast<std::int64_t>(status.st_blocks) * 512
                                            : -1;
}

// The reservation changes neither the length nor the content; what the file does not grow
// into is given back.
TEST(FileSpaceTest, ReservesWithoutChangingTheFileAndGivesTheRestBack) {
  testing::TempDir dir;
  const fs::path file = dir / "chapter.zip.part";
  testing::WriteFile(file, "");
  ReserveFileSpace(file, 4 << 20);
  if (AllocatedBytes(file) < (4 << 20)) GTEST_SKIP() << "the file system reserves no space";
  EXPECT_EQ(fs::file_size(file), 0u);
  testing::WriteFile(file, "the first bytes");
  ReserveFileSpace(file, 4 << 20);
  ReleaseUnusedFileSpace(file, 4 << 20);
  EXPECT_EQ(testing::ReadFile(file), "the first bytes");
  EXPECT_LT(AllocatedBytes(file), 1 << 20);
  // Nothing reserved for a size beyond the free space (a server's word), nor for a file that
  // does not exist.
  testing::WriteFile(file, "");
  ReserveFileSpace(file, std::int64_t{1} << 60);
  EXPECT_LT(AllocatedBytes(file), 1 << 20);
  ReserveFileSpace(dir / "missing", 1 << 20);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace
}  // namespace hopwell
