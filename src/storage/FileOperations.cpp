#include "storage/FileOperations.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

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

// Copies one level of source into destination; recurses into folders.
bool CopyFolderContents(const fs::path& source, const fs::path& destination) {
  for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
    HW_LOG(FileLog(), trace) << "Copying " << entry.path() << " to " << destination;
    const fs::path target = destination / entry.path().filename();
    if (fs::is_directory(entry.status())) {
      if (!fs::exists(target)) fs::create_directories(target);
      if (!CopyFolderContents(entry.path(), target)) return false;
    } else {
      if (fs::exists(fs::symlink_status(target))) fs::remove_all(target);
      fs::copy_file(entry.path(), target);
    }
  }
  return true;
}

}  // namespace

fs::path UniquePath(const fs::path& path) {
  const fs::path parent = path.parent_path();
  const std::string name = path.filename().string();
  fs::path candidate = path;
  boost::system::error_code ignored;
  for (unsigned counter = 0; fs::exists(fs::symlink_status(candidate, ignored)); ++counter) {
    candidate = parent / (name + "_" + std::to_string(counter));
  }
  return candidate;
}

bool CopyFolder(const fs::path& source, const fs::path& destination) {
  try {
    return CopyFolderContents(source, destination);
  } catch (const std::exception& error) {
    HW_LOG(FileLog(), warning) << "Error copying " << source << " to " << destination;
    HW_LOG(FileLog(), warning) << error.what();
    return false;
  }
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
  // Another thread may have created it meanwhile: what counts is that it exists now.
  if (!error || fs::is_directory(path)) return true;
  HW_LOG(FileLog(), error) << "Failed to create folder " << path << ": " << error.message();
  return false;
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
