#include "commands/install/PackageLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace hopwell {

PackageLock::PackageLock(const boost::filesystem::path& lockFile, bool wait,
                         const std::function<void()>& onWaiting,
                         const std::function<bool()>& shouldStop) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  // Short non-blocking attempts instead of one blocking flock, so that a stop request is
  // seen while another installation holds the lock.
  bool announced = false;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return;
    }
    if (errno == EINTR) continue;
    error_ = errno;
    if (error_ != EWOULDBLOCK || !wait) break;
    if (!announced && onWaiting) onWaiting();
    announced = true;
    if (shouldStop && shouldStop()) {
      error_ = ECANCELED;
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  ::close(fd);
}

PackageLock::PackageLock(PackageLock&& other) noexcept : fd_(other.fd_), error_(other.error_) {
  other.fd_ = -1;
}

PackageLock::~PackageLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace hopwell
