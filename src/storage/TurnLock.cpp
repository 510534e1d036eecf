#include "storage/TurnLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace hopwell {

namespace fs = boost::filesystem;

TurnLock::TurnLock(fs::path lockFile, bool wait, const std::function<bool()>& shouldStop)
    : path_(std::move(lockFile)) {
  if (path_.empty()) return;
  for (;;) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    // Short attempts instead of one blocking flock, so that a stop request is seen.
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && wait &&
           (errno == EWOULDBLOCK || errno == EINTR) && !(shouldStop && shouldStop())) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
    }
    struct stat held {};
    struct stat named {};
    if (result != 0) {
      ::close(fd);
      return;
    }
    // The save before may have removed the file while this one waited on it.
    if (::fstat(fd, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      fd_ = fd;
      return;
    }
    ::close(fd);
  }
}

TurnLock::~TurnLock() {
  if (fd_ < 0) return;
  // Removed while still held, so no one takes the lock of a file no longer under the name.
  ::unlink(path_.c_str());
  ::close(fd_);
}

}  // namespace hopwell
