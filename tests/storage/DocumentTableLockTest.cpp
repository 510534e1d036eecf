#include "storage/DocumentTableLock.h"

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/TempDir.h"

namespace hopwell {
namespace {

using testing::TempDir;

// Whether another open file description could take the file lock now, as another client
// process would.
bool FileLockFree(const boost::filesystem::path& lockFile) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return true;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

TEST(DocumentTableLockTest, HoldsTheFileLockBesideTheTableUntilDestroyed) {
  TempDir dir;
  const auto table = dir / "sub" / "CurrentDocuments.cdb";
  const auto lockFile = DocumentTableLock::LockFilePath(table);
  EXPECT_EQ(lockFile, dir / "sub" / "CurrentDocuments.cdb.lock");
  {
    DocumentTableLock lock(table);
    EXPECT_TRUE(lock.Locked());
    EXPECT_FALSE(FileLockFree(lockFile));
  }
  EXPECT_TRUE(FileLockFree(lockFile));
}

TEST(DocumentTableLockTest, ThreadsTakeTurns) {
  TempDir dir;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      for (int round = 0; round < 50; ++round) {
        DocumentTableLock lock(dir / "t.cdb");
        if (inside.fetch_add(1) != 0) overlapped = true;
        std::this_thread::yield();
        inside.fetch_sub(1);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace hopwell
