#include "storage/ZipArchiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hopwell {
namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

}  // namespace

std::int64_t ReadFully(int fd, char* buffer, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t count =
        ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return -1;
    if (count == 0) break;
    done += static_cast<std::size_t>(count);
  }
  return static_cast<std::int64_t>(done);
}

ZipArchiveFile::ZipArchiveFile() = default;

zlib_filefunc64_def ZipArchiveFile::Functions() {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = &ZipArchiveFile::Open;
  functions.zread_file = &ZipArchiveFile::Read;
  functions.zwrite_file = &ZipArchiveFile::Write;
  functions.ztell64_file = &ZipArchiveFile::Tell;
  functions.zseek64_file = &ZipArchiveFile::Seek;
  functions.zclose_file = &ZipArchiveFile::Close;
  functions.zerror_file = &ZipArchiveFile::Error;
  functions.opaque = this;
  return functions;
}

voidpf ZipArchiveFile::Open(voidpf self, const void* path, int mode) {
  auto& file = *static_cast<ZipArchiveFile*>(self);
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  file.fd_.reset(::open(static_cast<const char*>(path), O_RDONLY | O_CLOEXEC));
  if (!file.fd_) return nullptr;
  struct stat status {};
  if (::fstat(file.fd_.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    file.fd_.reset();
    return nullptr;
  }
  file.size_ = static_cast<std::uint64_t>(status.st_size);
  file.position_ = 0;
  file.failed_ = false;
  for (Block& block : file.blocks_) block.length = 0;
  return self;
}

uLong ZipArchiveFile::Read(voidpf, voidpf stream, void* buffer, uLong size) {
  auto& file = *static_cast<ZipArchiveFile*>(stream);
  return static_cast<uLong>(file.ReadHere(static_cast<char*>(buffer), size));
}

std::int64_t ZipArchiveFile::ReadAt(char* buffer, std::size_t size, std::uint64_t offset) {
  for (const Block& block : blocks_) {
    if (block.length > 0 && offset >= block.start && offset + size <= block.start + block.length) {
      std::memcpy(buffer, block.data.get() + (offset - block.start), size);
      return static_cast<std::int64_t>(size);
    }
  }
  return ReadFully(fd_.get(), buffer, size, offset);
}

std::size_t ZipArchiveFile::ReadHere(char* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size && position_ < size_) {
    Block* hit = nullptr;
    for (Block& block : blocks_) {
      if (block.length > 0 && position_ >= block.start && position_ < block.start + block.length) {
        hit = &block;
      }
    }
    if (hit == nullptr && size - done >= kBlockSize) {
      // Large reads go straight to the caller's buffer.
      const std::int64_t count = ReadFully(fd_.get(), buffer + done, size - done, position_);
      if (count < 0) failed_ = true;
      if (count <= 0) break;
      done += static_cast<std::size_t>(count);
      position_ += static_cast<std::uint64_t>(count);
      continue;
    }
    if (hit == nullptr) {
      hit = blocks_[0].lastUse <= blocks_[1].lastUse ? &blocks_[0] : &blocks_[1];
      if (!hit->data) hit->data.reset(new char[kBlockSize]);
      const std::int64_t count = ReadFully(fd_.get(), hit->data.get(), kBlockSize, position_);
      if (count < 0) failed_ = true;
      if (count <= 0) {
        hit->length = 0;
        break;
      }
      hit->start = position_;
      hit->length = static_cast<std::size_t>(count);
    }
    hit->lastUse = ++uses_;
    const std::size_t offset = static_cast<std::size_t>(position_ - hit->start);
    const std::size_t n = std::min(size - done, hit->length - offset);
    std::memcpy(buffer + done, hit->data.get() + offset, n);
    done += n;
    position_ += n;
  }
  return done;
}

uLong ZipArchiveFile::Write(voidpf, voidpf, const void*, uLong) {
  return 0;
}

ZPOS64_T ZipArchiveFile::Tell(voidpf, voidpf stream) {
  return static_cast<ZipArchiveFile*>(stream)->position_;
}

long ZipArchiveFile::Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto& file = *static_cast<ZipArchiveFile*>(stream);
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      file.position_ = offset;
      return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
      file.position_ += offset;
      return 0;
    case ZLIB_FILEFUNC_SEEK_END:
      file.position_ = file.size_ + offset;
      return 0;
    default:
      return -1;
  }
}

int ZipArchiveFile::Close(voidpf, voidpf stream) {
  static_cast<ZipArchiveFile*>(stream)->fd_.reset();
  return 0;
}

int ZipArchiveFile::Error(voidpf, voidpf stream) {
  return static_cast<ZipArchiveFile*>(stream)->failed_ ? 1 : 0;
}

}  // namespace hopwell
