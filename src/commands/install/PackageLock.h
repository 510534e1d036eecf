#pragma once

#include <chrono>
#include <functional>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// The lock of one extraction folder of the plug-in package folder: an flock on its lock file,
// taken through an open file description of its own, so that two commands of this process
// exclude each other just as two processes do. Installations that use other folders go on
// meanwhile. Closing the descriptor (destruction, or the holder's end) releases it.
class PackageLock {
 public:
  // How long one wait lasts before the lock and the stop predicate are asked again.
  static constexpr std::chrono::milliseconds kPollInterval{100};

  // Takes the lock, waiting for its holder as long as shouldStop (asked between short
  // waits; empty means never) does not say stop. onWaiting is called once, when the lock is
  // found taken. With wait false, only a lock that is free at once is taken.
  PackageLock(const boost::filesystem::path& lockFile, bool wait,
              const std::function<void()>& onWaiting = {},
              const std::function<bool()>& shouldStop = {});
  PackageLock(PackageLock&& other) noexcept;
  PackageLock& operator=(PackageLock&&) = delete;
  PackageLock(const PackageLock&) = delete;
  PackageLock& operator=(const PackageLock&) = delete;
  ~PackageLock();

  bool Held() const { return fd_ >= 0; }
  // Why the lock is not held: the errno of the failed open or flock, EWOULDBLOCK for a
  // taken lock that was not waited for, ECANCELED when shouldStop ended the wait.
  int Error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace hopwell
