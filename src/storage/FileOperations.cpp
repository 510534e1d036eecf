#include "storage/FileOperations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "base/Logging.h"
#include "storage/Crc32.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

LogSource& FileLog() {
  static LogSource source;
  return source;
}

// Large enough that the read calls cost little beside the checksum (with 8 KiB blocks a
// third of the time went to them), small enough that each block is still in the cache
// when the checksum reads it.
constexpr std::size_t kCrcBlockSize = 128 << 10;

// Copies one level of source into destination; recurses into folders. False, with `error`
// set, at the first failure.
bool CopyFolderContents(const fs::path& source, const fs::path& destination,
                        boost::system::error_code& error) {
  for (fs::directory_iterator it(source, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const fs::path& entry = it->path();
    HW_LOG(FileLog(), trace) << "Copying " << entry << " to " << destination;
    const fs::path target = destination / entry.filename();
    const fs::file_status status = it->status(error);
    if (error) return false;
    if (fs::is_directory(status)) {
      if (!PathExists(target, error) && !error) fs::create_directories(target, error);
      if (error || !CopyFolderContents(entry, target, error)) return false;
    } else {
      if (PathExists(target, error)) fs::remove_all(target, error);
      if (!error) fs::copy_file(entry, target, error);
      if (error) return false;
    }
  }
  return !error;
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int LastError() {
  return errno != 0 ? errno : EIO;
}

// Removes everything inside the open folder `folder`; its entries are looked at without
// following links, and sub-folders are opened the same way, so a folder swapped for a link
// meanwhile fails instead of being followed.
int RemoveContents(int folder) {
  std::vector<std::string> names;
  if (const int error = ListFolderNames(folder, names); error != 0) return error;
  for (const std::string& name : names) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return LastError();
    }
    if (S_ISDIR(info.st_mode)) {
      const UniqueFd inner(::openat(folder, name.c_str(), kFolderFlags));
      if (!inner) return LastError();
      if (const int error = RemoveContents(inner.get()); error != 0) return error;
    }
    if (::unlinkat(folder, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0 &&
        errno != ENOENT) {
      return LastError();
    }
  }
  return 0;
}

}  // namespace

bool RemoveTreeWithoutLinks(const fs::path& base, const fs::path& relative,
                            boost::system::error_code& error) {
  const auto fail = [&error](int code) {
    error.assign(code, boost::system::system_category());
    return false;
  };
  error.clear();
  std::vector<std::string> parts;
  for (const fs::path& part : relative) {
    if (part == "." || part.empty()) continue;
    if (part == ".." || part.string().find('/') != std::string::npos) return fail(EINVAL);
    parts.push_back(part.string());
  }
  if (parts.empty()) return fail(EINVAL);
  UniqueFd folder(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return fail(LastError());
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    UniqueFd next(::openat(folder.get(), parts[i].c_str(), kFolderFlags));
    if (!next) return errno == ENOENT ? true : fail(LastError());
    folder = std::move(next);
  }
  const char* last = parts.back().c_str();
  struct stat info {};
  if (::fstatat(folder.get(), last, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? true : fail(LastError());
  }
  if (S_ISLNK(info.st_mode)) return fail(ELOOP);
  if (S_ISDIR(info.st_mode)) {
    const UniqueFd target(::openat(folder.get(), last, kFolderFlags));
    if (!target) return fail(LastError());
    if (const int code = RemoveContents(target.get()); code != 0) return fail(code);
  }
  if (::unlinkat(folder.get(), last, S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0 &&
      errno != ENOENT) {
    return fail(LastError());
  }
  return true;
}

bool PathExists(const fs::path& path, boost::system::error_code& error) {
  const fs::file_status status = fs::symlink_status(path, error);
  // symlink_status reports "not found" as an error too; that one is an answer.
  if (status.type() == fs::file_not_found) error.clear();
  return !error && fs::exists(status);
}

fs::path UniquePath(const fs::path& path, boost::system::error_code& error) {
  const fs::path parent = path.parent_path();
  const std::string name = path.filename().string();
  fs::path candidate = path;
  for (unsigned counter = 0; PathExists(candidate, error); ++counter) {
    candidate = parent / (name + "_" + std::to_string(counter));
  }
  return error ? fs::path() : candidate;
}

bool CopyFolder(const fs::path& source, const fs::path& destination) {
  boost::system::error_code error;
  if (CopyFolderContents(source, destination, error)) return true;
  HW_LOG(FileLog(), warning) << "Error copying " << source << " to " << destination;
  HW_LOG(FileLog(), warning) << error.message();
  return false;
}

bool RemovePath(const fs::path& path) {
  HW_LOG(FileLog(), trace) << "Deleting " << path;
  boost::system::error_code error;
  fs::remove_all(path, error);
  if (error) {
    HW_LOG(FileLog(), error) << "Failed to remove " << path << ": " << error.message();
    return false;
  }
  return true;
}

bool CreateFolder(const fs::path& path) {
  boost::system::error_code error;
  if (fs::exists(path, error)) return true;
  CreatePrivateFolders(path, error);
  // Another thread may have created it meanwhile: what counts is that it exists now. A path
  // the file system refuses (a name too long, a link loop) is a failure like any other.
  boost::system::error_code statusError;
  if (!error || fs::is_directory(path, statusError)) return true;
  HW_LOG(FileLog(), error) << "Failed to create folder " << path << ": " << error.message();
  return false;
}

int ListFolderNames(int folder, std::vector<std::string>& names) {
  names.clear();
  const int listed = ::dup(folder);
  if (listed < 0) return LastError();
  DIR* stream = ::fdopendir(listed);
  if (stream == nullptr) {
    const int error = LastError();
    ::close(listed);
    return error;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
    errno = 0;
  }
  const int listError = errno;
  ::closedir(stream);
  return listError;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

FileHandle OpenFile(const fs::path& path, const char* mode) {
  return FileHandle(std::fopen(path.c_str(), mode));
}

std::uint32_t FileCrc32(const fs::path& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    HW_LOG(FileLog(), error) << "Failed to open " << path;
    return 0;
  }
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  const std::unique_ptr<unsigned char[]> block(new unsigned char[kCrcBlockSize]);
  std::uint32_t crc = 0;
  for (;;) {
    const ssize_t count = ::read(fd.get(), block.get(), kCrcBlockSize);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      // A checksum of part of the file would pass for the file's own.
      HW_LOG(FileLog(), error) << "Failed to read " << path << ": " << std::strerror(errno);
      return 0;
    }
    if (count == 0) break;
    crc = Crc32Update(crc, block.get(), static_cast<std::size_t>(count));
  }
  return crc;
}

}  // namespace hopwell
