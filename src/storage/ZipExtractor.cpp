#include "storage/ZipExtractor.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <minizip/unzip.h>
#include <boost/filesystem/operations.hpp>

#include "base/CancelToken.h"

#include "storage/FileOperations.h"
#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr std::size_t kCopyBufferSize = 8192;
// Names are read whole (the format allows 65535 bytes), never cut short.
constexpr std::size_t kNameBufferSize = 65536;
// The result of an entry refused for its name or type.
constexpr int kRefusedEntry = UNZ_BADZIPFILE;
constexpr std::size_t kEndRecordSize = 22;
constexpr unsigned kHostUnix = 3;
constexpr unsigned kHostDarwin = 19;

struct UnzCloser {
  void operator()(void* archive) const noexcept { unzClose(archive); }
};
using UnzHandle = std::unique_ptr<void, UnzCloser>;

// The Unix file mode an entry was stored with; 0 for entries made on other systems, whose
// attribute bits mean something else.
mode_t UnixMode(const unz_file_info64& info) {
  const unsigned host = static_cast<unsigned>(info.version >> 8) & 0xFFu;
  if (host != kHostUnix && host != kHostDarwin) return 0;
  return static_cast<mode_t>((info.external_fa >> 16) & 0xFFFFu);
}

bool IsSymbolicLink(const unz_file_info64& info) {
  return S_ISLNK(UnixMode(info));
}

// Of the stored mode only the owner-execute bit is kept, so that an unpacked program can be
// started. The rest follows the umask the file was created with, never with set-id or sticky
// bits and never writable by others, whatever the archive or a file replaced in place had.
bool SetExtractedMode(std::FILE* file, bool ownerExecute) {
  struct stat status {};
  if (::fstat(::fileno(file), &status) != 0) return false;
  mode_t mode = status.st_mode & (S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH);
  if (ownerExecute) mode |= S_IXUSR;
  return ::fchmod(::fileno(file), mode) == 0;
}

// True when a folder between destination and target (exclusive) is a symbolic link, which
// would carry the write somewhere else.
bool PassesThroughLink(const fs::path& destination, const fs::path& target) {
  fs::path current = destination;
  const fs::path relative = target.lexically_relative(destination);
  boost::system::error_code ignored;
  for (auto it = relative.begin(); it != relative.end(); ++it) {
    if (std::next(it) == relative.end()) break;
    current /= *it;
    if (fs::is_symlink(fs::symlink_status(current, ignored))) return true;
  }
  return false;
}

// True for an archive that is nothing but its end record (with an optional comment) and
// lists no entries.
bool IsEmptyArchive(const fs::path& path) {
  FileHandle file = OpenFile(path, "rb");
  if (!file) return false;
  unsigned char record[kEndRecordSize];
  if (std::fread(record, 1, sizeof record, file.get()) != sizeof record) return false;
  const auto word = [&](std::size_t at) { return record[at] | (record[at + 1] << 8); };
  if (std::memcmp(record, "PK\x05\x06", 4) != 0 || word(8) != 0 || word(10) != 0) return false;
  boost::system::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  return !error && size == kEndRecordSize + static_cast<std::uintmax_t>(word(20));
}

}  // namespace

// minizip hands out the raw bytes of methods it cannot inflate (bzip2) and the cipher text
// of encrypted entries; both would be written as if they were the file.
int ZipExtractor::CheckSupported(const unz_file_info64_s& info) {
  if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
    HW_LOG(log_, error) << "Unsupported compression method " << info.compression_method
                        << " in zip";
    return UNZ_BADZIPFILE;
  }
  if ((info.flag & 1u) != 0) {
    HW_LOG(log_, error) << "Encrypted entries in zip are not supported";
    return UNZ_BADZIPFILE;
  }
  return UNZ_OK;
}

struct ZipExtractor::Entry {
  std::string name;
  fs::path target;
};

ZipExtractor::ZipExtractor(fs::path archive) : archive_(std::move(archive)) {}

void ZipExtractor::LogOpenFailure() {
  HW_LOG(log_, error) << "Failed to open " << archive_ << " for decompression";
  boost::system::error_code error;
  const fs::file_status status = fs::status(archive_, error);
  if (fs::is_regular_file(status)) {
    HW_LOG(log_, error) << "perms: " << static_cast<int>(status.permissions());
  } else if (fs::exists(status)) {
    HW_LOG(log_, error) << archive_ << " is not a regular file";
  } else {
    HW_LOG(log_, error) << archive_ << " does not exist";
  }
}

bool ZipExtractor::Extract(bool keepFolders, const fs::path& destination,
                           std::vector<fs::path>* output) {
  UnzHandle archive(unzOpen64(archive_.c_str()));
  if (!archive) {
    // minizip refuses an archive without entries, which is a valid (empty) archive.
    if (IsEmptyArchive(archive_)) return true;
    LogOpenFailure();
    return false;
  }
  int status = unzGoToFirstFile(archive.get());
  if (status != UNZ_OK) return status == UNZ_END_OF_LIST_OF_FILE;

  for (;;) {
    if (CancelRequestedHere()) {
      HW_LOG(log_, info) << "Extraction of " << archive_ << " cancelled";
      return false;
    }
    unz_file_info64 info{};
    status = unzGetCurrentFileInfo64(archive.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0);
    if (status == UNZ_OK) status = CheckSupported(info);
    if (status == UNZ_OK) status = unzOpenCurrentFile(archive.get());
    if (status != UNZ_OK) {
      HW_LOG(log_, error) << "Failed to open file: unzStatus " << status;
      return false;
    }
    Entry entry;
    const int result = ExtractEntry(archive.get(), keepFolders, destination, entry);
    if (result != 0) {
      HW_LOG(log_, error) << "Failed to open file: unzStatus " << result;
      return false;
    }
    if (output != nullptr) output->push_back(entry.target);

    status = unzGoToNextFile(archive.get());
    if (status == UNZ_END_OF_LIST_OF_FILE) return true;
    if (status != UNZ_OK) return false;
  }
}

int ZipExtractor::ExtractEntry(void* archive, bool keepFolders, const fs::path& destination,
                               Entry& entry) {
  try {
    buffer_.resize(kCopyBufferSize);
    nameBuffer_.resize(kNameBufferSize + 1);
  } catch (const std::bad_alloc&) {
    return UNZ_INTERNALERROR;
  }
  unz_file_info64 info{};
  const int infoStatus = unzGetCurrentFileInfo64(archive, &info, nameBuffer_.data(),
                                                 kNameBufferSize, nullptr, 0, nullptr, 0);
  if (infoStatus != UNZ_OK) return infoStatus;
  entry.name.assign(nameBuffer_.data(), std::min<std::size_t>(info.size_filename, kNameBufferSize));

  const std::size_t lastSeparator = entry.name.find_last_of("/\\");
  const std::string fileName =
      lastSeparator == std::string::npos ? entry.name : entry.name.substr(lastSeparator + 1);
  if (fileName.empty()) {
    HW_LOG(log_, trace) << "Encountered unnamed file in zip: " << entry.name;
    return 0;
  }

  // The whole stored name is checked in both modes: an archive that tries to climb out of
  // its folder is not trusted for its other names either.
  const auto full = JoinRelativeChecked(destination, entry.name);
  const auto flat = JoinChecked(destination, fileName);
  if (!full || !flat) {
    HW_LOG(log_, error) << "Refusing zip entry outside the destination: " << entry.name;
    return kRefusedEntry;
  }
  if (IsSymbolicLink(info)) {
    HW_LOG(log_, error) << "Refusing symbolic link in zip: " << entry.name;
    return kRefusedEntry;
  }
  const fs::path target = keepFolders ? *full : *flat;
  if (PassesThroughLink(destination, target)) {
    HW_LOG(log_, error) << "Refusing zip entry below a symbolic link: " << entry.name;
    return kRefusedEntry;
  }

  const int openStatus = unzOpenCurrentFilePassword(archive, nullptr);
  if (openStatus != UNZ_OK) {
    HW_LOG(log_, error) << "error " << openStatus << " with zipfile in unzOpenCurrentFile";
    return openStatus;
  }
  entry.target = target;
  ownerExecute_ = (UnixMode(info) & S_IXUSR) != 0;

  boost::system::error_code error;
  const fs::path parent = target.parent_path();
  if (!fs::exists(parent, error)) {
    fs::create_directories(parent, error);
    if (error) {
      HW_LOG(log_, error) << "error: Failed to create folder for " << target << ": error "
                          << error.message();
    }
  }
  // An existing entry is replaced by a new file, never written into: it may be a symbolic
  // or hard link to a file outside the destination.
  const fs::file_status existing = fs::symlink_status(target, error);
  if (fs::exists(existing) && !fs::is_directory(existing)) fs::remove(target, error);

  const int copyStatus = CopyEntryData(archive, target);
  if (copyStatus != 0) {
    unzCloseCurrentFile(archive);
    return copyStatus;
  }
  const int closeStatus = unzCloseCurrentFile(archive);
  if (closeStatus != UNZ_OK) {
    HW_LOG(log_, error) << "error " << closeStatus << " with zipfile in unzCloseCurrentFile";
    return closeStatus;
  }
  return 0;
}

int ZipExtractor::CopyEntryData(void* archive, const fs::path& target) {
  // "x": the file must be new, so nothing planted since the removal is written through.
  FileHandle file = OpenFile(target, "wbx");
  if (!file) {
    boost::system::error_code ignored;
    fs::create_directories(target.parent_path(), ignored);
    file = OpenFile(target, "wbx");
  }
  if (!file) {
    // An entry that cannot be written is a failed extraction, not a finished one.
    HW_LOG(log_, error) << "error: Failed to create " << target << ": " << std::strerror(errno);
    return UNZ_ERRNO;
  }
  for (;;) {
    if (CancelRequestedHere()) {
      HW_LOG(log_, info) << "Extraction cancelled while writing " << target;
      return UNZ_ERRNO;
    }
    const int count = unzReadCurrentFile(archive, buffer_.data(), kCopyBufferSize);
    if (count < 0) {
      HW_LOG(log_, error) << "error " << count << " with zipfile in unzReadCurrentFile";
      return count;
    }
    if (count == 0) break;
    if (std::fwrite(buffer_.data(), 1, static_cast<std::size_t>(count), file.get()) !=
        static_cast<std::size_t>(count)) {
      HW_LOG(log_, error) << "error in writing extracted file";
      return -1;
    }
  }
  if (!SetExtractedMode(file.get(), ownerExecute_)) {
    HW_LOG(log_, error) << "error: Failed to set the permissions of " << target << ": "
                        << std::strerror(errno);
    return UNZ_ERRNO;
  }
  if (std::fclose(file.release()) != 0) {
    HW_LOG(log_, error) << "error in writing extracted file";
    return -1;
  }
  return 0;
}

}  // namespace hopwell
