#include "commands/install/PackageFolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace hopwell {
namespace {

constexpr std::chrono::milliseconds kStopCheck{50};

std::timed_mutex& UpdateMutex() {
  static std::timed_mutex mutex;
  return mutex;
}

}  // namespace

PackageFolderLock::PackageFolderLock(const boost::filesystem::path& packageFolder,
                                     std::function<bool()> shouldStop)
    : threadLock_(UpdateMutex(), std::defer_lock) {
  const auto stop = [&shouldStop] { return shouldStop && shouldStop(); };
  while (!threadLock_.try_lock_for(kStopCheck)) {
    if (stop()) return;
  }
  const boost::filesystem::path path = packageFolder / "install.lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return;
  int result = 0;
  const int mode = shouldStop ? LOCK_EX | LOCK_NB : LOCK_EX;
  while ((result = ::flock(fd_, mode)) < 0 && (errno == EINTR || errno == EWOULDBLOCK)) {
    if (errno == EINTR) continue;
    if (stop()) {
      ::close(fd_);
      fd_ = -1;
      threadLock_.unlock();
      return;
    }
    std::this_thread::sleep_for(kStopCheck);
  }
  if (result < 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

PackageFolderLock::~PackageFolderLock() {
  // Closing the descriptor releases the flock.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace hopwell
