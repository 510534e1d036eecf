#include "commands/install/PackageFolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace hopwell {
namespace {

std::mutex& UpdateMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

PackageFolderLock::PackageFolderLock(const boost::filesystem::path& packageFolder)
    : threadLock_(UpdateMutex()) {
  const boost::filesystem::path path = packageFolder / "install.lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return;
  int result = 0;
  while ((result = ::flock(fd_, LOCK_EX)) < 0 && errno == EINTR) {
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
