#include "storage/FileSpace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace hopwell {

void ReserveFileSpace(const boost::filesystem::path& file, std::int64_t size) noexcept {
  if (size <= 0) return;
  const int fd = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  // The size comes from a server: a reservation never takes more than half of what is free,
  // so a wrong or hostile size cannot fill the disk before a single byte has arrived.
  struct statvfs space {};
  if (::fstatvfs(fd, &space) == 0 &&
      static_cast<unsigned long long>(size) <=
          static_cast<unsigned long long>(space.f_bavail) * space.f_frsize / 2) {
    ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
  }
  ::close(fd);
}

void ReleaseUnusedFileSpace(const boost::filesystem::path& file, std::int64_t size) noexcept {
  if (size <= 0) return;
  const int fd = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat status {};
  // Cutting a file to its own length frees the blocks reserved beyond it. Where that fails the
  // file's bytes are as they were; the blocks go when the file goes.
  if (::fstat(fd, &status) == 0 && status.st_size < size) {
    [[maybe_unused]] const int cut = ::ftruncate(fd, status.st_size);
  }
  ::close(fd);
}

}  // namespace hopwell
