#pragma once

#include <functional>
#include <mutex>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// Serialises plug-in updates: one at a time in this process (a mutex) and across processes
// (flock on a lock file in the package folder), so two commands never write the same
// package, extraction folder or versions file at once. Waits until the holder is done, or
// until `shouldStop` (asked every few milliseconds while waiting) says to give up.
class PackageFolderLock {
 public:
  explicit PackageFolderLock(const boost::filesystem::path& packageFolder,
                             std::function<bool()> shouldStop = {});
  PackageFolderLock(const PackageFolderLock&) = delete;
  PackageFolderLock& operator=(const PackageFolderLock&) = delete;
  ~PackageFolderLock();

  // False when the wait was given up: nothing is held then.
  bool Acquired() const { return threadLock_.owns_lock(); }

  // False when the lock file could not be opened or locked; the in-process lock is held
  // anyway.
  bool HoldsFileLock() const { return fd_ >= 0; }

 private:
  std::unique_lock<std::timed_mutex> threadLock_;
  int fd_ = -1;
};

}  // namespace hopwell
