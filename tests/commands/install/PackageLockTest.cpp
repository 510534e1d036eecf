#include <cerrno>
#include <functional>
#include <memory>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "commands/install/PackageLock.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// Ways a lock is not had; that the wait ends with its holder is shown through the command.
TEST(PackageLockTest, LockNotHadSaysWhy) {
  testing::TempDir dir;
  const fs::path taken = dir / "1.0.lock";
  const PackageLock holder(taken, false);
  ASSERT_TRUE(holder.Held());
  fs::create_symlink(dir / "elsewhere", dir / "link.lock");
  struct Case {
    const char* name;
    fs::path file;
    bool wait;
    int stopOnQuestion;  // the stop predicate says stop on this question
    int error;
    int announcements;
  };
  const Case cases[] = {
      {"taken, not waited for", taken, false, 1, EWOULDBLOCK, 0},
      {"told to stop while waiting", taken, true, 3, ECANCELED, 1},
      {"no folder for the lock file", dir / "none" / "x.lock", true, 1, ENOENT, 0},
      {"a link in place of the lock file", dir / "link.lock", true, 1, ELOOP, 0},
  };
  for (const Case& c : cases) {
    int asked = 0;
    int announced = 0;
    const PackageLock lock(
        c.file, c.wait, [&] { ++announced; }, [&] { return ++asked >= c.stopOnQuestion; });
    EXPECT_FALSE(lock.Held()) << c.name;
    EXPECT_EQ(lock.Error(), c.error) << c.name;
    EXPECT_EQ(announced, c.announcements) << c.name;
    EXPECT_EQ(asked, c.error == ECANCELED ? c.stopOnQuestion : 0) << c.name;
  }
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

}  // namespace
}  // namespace hopwell
