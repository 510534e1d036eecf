#include "base/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <boost/filesystem/operations.hpp>
#include <boost/system/system_error.hpp>

#include "base/LogFailure.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr std::uintmax_t kRotationSize = 1024 * 1024;
constexpr std::uintmax_t kCollectedMaxSize = 16 * 1024 * 1024;
constexpr std::uintmax_t kMinFreeSpace = 100 * 1024 * 1024;
constexpr int kOpenFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
constexpr mode_t kOpenMode = 0666;  // less the umask, as any file the client writes

// Async-signal-safe; 0 or the errno of the failure.
int WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written == 0 ? EIO : errno;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

// NoteLogFailure reads the exception being handled.
template <typename Error>
void Note(const Error& error) {
  try {
    throw error;
  } catch (...) {
    NoteLogFailure();
  }
}

}  // namespace

LogFile::LogFile(const fs::path& folder)
    : folder_(folder), collector_(folder, kCollectedMaxSize, kMinFreeSpace) {
  fs::create_directories(folder_);
  counter_ = collector_.Scan();
  PrepareNextPath();
}

LogFile::~LogFile() {
  if (fd_ >= 0) ::close(fd_);
}

void LogFile::PrepareNextPath() {
  const fs::path next = folder_ / LogFileCollector::FileName(counter_);
  std::snprintf(nextPath_, sizeof nextPath_, "%s", next.c_str());
}

void LogFile::Add(const char* bytes, std::size_t size, bool newlineAdded) {
  // As the file sink always did: the line without the newline it added counts against the
  // limit, and a line that would reach it begins the next file.
  const std::size_t counted = size - (newlineAdded ? 1 : 0);
  if (fd_ >= 0 && failed_) {
    ReplaceFailedFile();
  } else if (fd_ >= 0 && written_ + counted >= kRotationSize) {
    Rotate();
  }
  if (fd_ < 0 && !Open()) return;
  Gather(bytes, size, false);
  written_ += size;
}

void LogFile::AddAfterCrash(const char* bytes, std::size_t size) {
  if (fd_ < 0) {
    fd_ = ::open(nextPath_, kOpenFlags, kOpenMode);
    if (fd_ < 0) return;
  }
  Gather(bytes, size, true);
}

void LogFile::Gather(const char* bytes, std::size_t size, bool crashing) {
  if (kGatherSize - gathered_ < size) {
    if (crashing) {
      WriteAll(fd_, gather_, gathered_);
      gathered_ = 0;
    } else if (!WriteGathered()) {
      return;
    }
  }
  if (size > kGatherSize) {
    if (const int error = WriteAll(fd_, bytes, size); error != 0 && !crashing) {
      failed_ = true;
      Note(boost::system::system_error(error, boost::system::system_category(),
                                       "Failed to write " + path_.string()));
    }
    return;
  }
  std::memcpy(gather_ + gathered_, bytes, size);
  gathered_ += size;
}

bool LogFile::WriteGathered() {
  const std::size_t size = gathered_;
  gathered_ = 0;
  if (size == 0 || fd_ < 0) return true;
  if (const int error = WriteAll(fd_, gather_, size); error != 0) {
    failed_ = true;
    Note(boost::system::system_error(error, boost::system::system_category(),
                                     "Failed to write " + path_.string()));
    return false;
  }
  return true;
}

void LogFile::Flush() {
  WriteGathered();
}

void LogFile::FlushAfterCrash() {
  if (fd_ >= 0) WriteAll(fd_, gather_, gathered_);
  gathered_ = 0;
}

bool LogFile::Open() {
  if (openFailed_) return false;
  fs::path path = path_;
  if (!reuseName_) {
    path = folder_ / LogFileCollector::FileName(counter_++);
    PrepareNextPath();
  }
  reuseName_ = false;
  try {
    fs::create_directories(folder_);
    const int fd = ::open(path.c_str(), kOpenFlags, kOpenMode);
    if (fd < 0) {
      throw fs::filesystem_error(
          "Failed to open file for writing", path,
          boost::system::error_code(errno, boost::system::system_category()));
    }
    fd_ = fd;
    path_ = std::move(path);
    written_ = 0;
    failed_ = false;
    return true;
  } catch (...) {
    NoteLogFailure();
    openFailed_ = true;
    return false;
  }
}

void LogFile::Rotate() {
  WriteGathered();
  ::close(fd_);
  fd_ = -1;
  written_ = 0;
  try {
    if (fs::is_regular_file(path_)) collector_.Store(path_);
  } catch (...) {
    NoteLogFailure();
  }
}

// A file whose writes failed is finished; an empty one is written again under its name.
void LogFile::ReplaceFailedFile() {
  gathered_ = 0;
  ::close(fd_);
  fd_ = -1;
  written_ = 0;
  failed_ = false;
  boost::system::error_code error;
  const std::uintmax_t size = fs::file_size(path_, error);
  if (error || size == 0) {
    reuseName_ = true;
    return;
  }
  try {
    collector_.Store(path_);
  } catch (...) {
    NoteLogFailure();
  }
}

void LogFile::FinishRun() {
  WriteGathered();
  if (fd_ < 0 || written_ == 0) return;
  try {
    collector_.Store(path_);
  } catch (...) {
    NoteLogFailure();
  }
}

void LogFile::Close() {
  if (fd_ < 0) return;
  if (written_ > 0 && !failed_) {
    Rotate();
    return;
  }
  ::close(fd_);
  fd_ = -1;
}

}  // namespace hopwell
