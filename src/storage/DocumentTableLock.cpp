#include "storage/DocumentTableLock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>

#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// One mutex for every table path: the client has one table, and tests that use others are
// served just as well by queuing on it.
std::mutex& TableMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

fs::path DocumentTableLock::LockFilePath(const fs::path& table) {
  return table.parent_path() / (table.filename().string() + ".lock");
}

DocumentTableLock::DocumentTableLock() : DocumentTableLock(CurrentDocumentsDbPath()) {}

DocumentTableLock::DocumentTableLock(const fs::path& table) : inProcess_(TableMutex()) {
  boost::system::error_code error;
  fs::create_directories(table.parent_path(), error);
  const fs::path lockFile = LockFilePath(table);
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

DocumentTableLock::~DocumentTableLock() {
  // Closing the descriptor releases the flock.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace hopwell
