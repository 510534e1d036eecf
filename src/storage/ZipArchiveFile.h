#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <minizip/ioapi.h>

#include "storage/FileOperations.h"

namespace hopwell {

// The archive file under one minizip handle: positioned reads (pread) through two small
// blocks kept in memory, one for the central directory and one for the entry being read,
// so that minizip's many small reads and seeks cost no system call of their own. Several
// handles on the same archive each have their own.
class ZipArchiveFile {
 public:
  ZipArchiveFile();
  ZipArchiveFile(const ZipArchiveFile&) = delete;
  ZipArchiveFile& operator=(const ZipArchiveFile&) = delete;

  // Functions for unzOpen2_64 that read through this object.
  zlib_filefunc64_def Functions();

  // size bytes at offset, for reads of an entry's data that need no minizip: from a block
  // in memory when it holds them all (a small entry follows its local header), else from
  // the file. The count read (short at the end of the file), -1 on a read error.
  std::int64_t ReadAt(char* buffer, std::size_t size, std::uint64_t offset);

 private:
  struct Block {
    std::uint64_t start = 0;
    std::size_t length = 0;
    std::uint64_t lastUse = 0;
    std::unique_ptr<char[]> data;
  };

  static voidpf Open(voidpf self, const void* path, int mode);
  static uLong Read(voidpf self, voidpf stream, void* buffer, uLong size);
  static uLong Write(voidpf self, voidpf stream, const void* buffer, uLong size);
  static ZPOS64_T Tell(voidpf self, voidpf stream);
  static long Seek(voidpf self, voidpf stream, ZPOS64_T offset, int origin);
  static int Close(voidpf self, voidpf stream);
  static int Error(voidpf self, voidpf stream);

  std::size_t ReadHere(char* buffer, std::size_t size);

  UniqueFd fd_;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
  std::uint64_t uses_ = 0;
  bool failed_ = false;
  Block blocks_[2];
};

// pread until `size` bytes or the end of the file; -1 on a read error.
std::int64_t ReadFully(int fd, char* buffer, std::size_t size, std::uint64_t offset);

}  // namespace hopwell
