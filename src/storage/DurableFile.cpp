#include "storage/DurableFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "storage/FileOperations.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr char kTemporarySuffix[] = ".hopwell.tmp";
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A writer that finds the temporary file renamed away by the writer before it opens it
// again. Every such turn means another writer finished, and with several writers one may lose
// many turns in a row (the lock is not fair); turning for this long means something else keeps
// replacing the file.
constexpr std::chrono::seconds kMaxTurning{10};

bool Fail(boost::system::error_code& error, int code = 0) {
  const int value = code != 0 ? code : (errno != 0 ? errno : EIO);
  error.assign(value, boost::system::system_category());
  return false;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool SyncFd(int fd) {
  int result = 0;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool LockFd(int fd) {
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// True when the open file is still the one named path (no writer before us renamed or
// removed it while we waited for its lock).
bool StillNamed(int fd, const fs::path& path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Syncs what lies below the open folder, then the folder; links are left alone.
int SyncBelow(int folder) {
  std::vector<std::string> names;
  if (const int error = ListFolderNames(folder, names); error != 0) return error;
  for (const std::string& name : names) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
    const UniqueFd inner(
        ::openat(folder, name.c_str(),
                 S_ISDIR(info.st_mode) ? kFolderFlags : O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!inner) return errno;
    if (S_ISDIR(info.st_mode)) {
      if (const int error = SyncBelow(inner.get()); error != 0) return error;
    } else if (!SyncFd(inner.get())) {
      return errno;
    }
  }
  return SyncFd(folder) ? 0 : errno;
}

}  // namespace

fs::path DurableTemporaryPath(const fs::path& path) {
  return path.parent_path() / (path.filename().string() + kTemporarySuffix);
}

bool SyncFolder(const fs::path& folder, boost::system::error_code& error) {
  error.clear();
  const UniqueFd fd(::open(folder.empty() ? "." : folder.c_str(), kFolderFlags));
  if (!fd || !SyncFd(fd.get())) return Fail(error);
  return true;
}

bool SyncTree(const fs::path& folder, boost::system::error_code& error) {
  error.clear();
  const UniqueFd fd(::open(folder.c_str(), kFolderFlags));
  if (!fd) return Fail(error);
  if (const int code = SyncBelow(fd.get()); code != 0) return Fail(error, code);
  return true;
}

bool RemoveFileDurably(const fs::path& path, boost::system::error_code& error) {
  error.clear();
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Fail(error);
  return SyncFolder(path.parent_path(), error);
}

bool ReplaceFileDurably(const fs::path& path, std::string_view bytes,
                        boost::system::error_code& error) {
  error.clear();
  const fs::path temporary = DurableTemporaryPath(path);
  const auto deadline = std::chrono::steady_clock::now() + kMaxTurning;
  while (std::chrono::steady_clock::now() < deadline) {
    // An existing file under the name is a killed write's or the lock of a running one: its
    // lock tells which, and either way it is ours to take over once the lock is had.
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!fd || !LockFd(fd.get())) return Fail(error);
    if (!StillNamed(fd.get(), temporary)) continue;
    const bool written = ::ftruncate(fd.get(), 0) == 0 && WriteAll(fd.get(), bytes) &&
                         SyncFd(fd.get()) && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
      Fail(error);
      ::unlink(temporary.c_str());  // still ours: the lock is held
      return false;
    }
    // The lock goes with the descriptor; the next writer finds its file renamed away.
    return SyncFolder(path.parent_path(), error);
  }
  return Fail(error, EAGAIN);
}

}  // namespace hopwell
