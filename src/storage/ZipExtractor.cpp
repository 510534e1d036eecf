#include "storage/ZipExtractor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_set>

#include <minizip/unzip.h>
#include <boost/filesystem/operations.hpp>

#include "base/CancelToken.h"
#include "storage/Crc32.h"
#include "storage/ExtractionFolders.h"
#include "storage/FileOperations.h"
#include "storage/SafePath.h"
#include "storage/ZipArchiveFile.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// Large enough that an entry of a few KiB is one write, small enough to stay in the cache
// between the read, the checksum and the write.
constexpr std::size_t kCopyBufferSize = 256 * 1024;
// Names are read whole (the format allows 65535 bytes), never cut short.
constexpr std::size_t kNameBufferSize = 65536;
// The result of an entry refused for its name or type.
constexpr int kRefusedEntry = UNZ_BADZIPFILE;
// The result of an entry left because the extraction was asked to stop.
constexpr int kStopped = std::numeric_limits<int>::min();
// The result of an entry not begun because the job was cancelled.
constexpr int kCancelled = std::numeric_limits<int>::min() + 2;
// The result of an entry left because an earlier one failed; never reported.
constexpr int kAbandoned = std::numeric_limits<int>::min() + 1;
constexpr std::size_t kEndRecordSize = 22;
constexpr unsigned kHostUnix = 3;
constexpr unsigned kHostDarwin = 19;
// Below this much data a second thread costs more than it saves.
constexpr std::uint64_t kParallelBytes = 4 << 20;
constexpr std::size_t kParallelEntries = 4;
// Nor for entries this small on average: threads that create many small files in one folder
// mostly wait for each other on the folder's lock, and spend twice the system time of one.
constexpr std::uint64_t kParallelBytesPerEntry = 64 << 10;
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

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
// started. The rest follows the umask the file was created with (asked for as rw-rw-r--),
// never with set-id or sticky bits and never writable by others, whatever the archive had.
constexpr mode_t kCreateMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH;

// A program gets its owner-execute bit even where the umask would take it away.
bool AddOwnerExecute(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  return ::fchmod(fd, (status.st_mode & kCreateMode) | S_IXUSR) == 0;
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

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// A stored name as a log line shows it: a name of up to 65535 bytes is cut after its start.
std::string NameForLog(std::string_view name) {
  constexpr std::size_t kShown = 200;
  return name.size() <= kShown ? std::string(name) : std::string(name.substr(0, kShown)) + "...";
}

// The part of a stored name after its last "/" or backslash.
std::string_view FileNameOf(std::string_view name) {
  const std::size_t last = name.find_last_of("/\\");
  return last == std::string_view::npos ? name : name.substr(last + 1);
}

// The new data for a target that already exists, written beside it under a free name and
// renamed over it when whole; removed unless moved.
class PartFile {
 public:
  explicit PartFile(int folder) : folder_(folder) {}
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  ~PartFile() {
    if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
  }

  // A new file named after `target` (cut short so that the suffix fits); what is already
  // there under a candidate name is left alone and the next one is tried.
  UniqueFd Create(const std::string& target, int flags, mode_t mode) {
    const std::string stem = target.substr(0, std::min<std::size_t>(target.size(), kStemLength));
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      std::string name = "." + stem + ".part";
      if (attempt > 0) name += std::to_string(attempt);
      UniqueFd fd(::openat(folder_, name.c_str(), flags, mode));
      if (fd) {
        name_ = std::move(name);
        return fd;
      }
      if (errno != EEXIST) return fd;
    }
    return UniqueFd();
  }

  // Renames the new file over `target`; true as well when the file was created in place.
  bool MoveTo(const std::string& target) {
    if (name_.empty()) return true;
    if (::renameat(folder_, name_.c_str(), folder_, target.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  static constexpr std::size_t kStemLength = 200;
  static constexpr int kAttempts = 100;
  int folder_;
  std::string name_;
};

struct LogLine {
  Severity level;
  std::string text;
};

}  // namespace

struct ZipExtractor::PlannedEntry {
  std::string name;
  unz_file_info64 info{};
  unz64_file_pos position{};
};

// What extracting one entry gave: kept until every entry before it is known, then logged
// (or, after an earlier failure, taken back).
struct ZipExtractor::Outcome {
  int result = 0;
  std::vector<LogLine> lines;
  fs::path target;
  std::vector<std::string_view> folders;
  std::string_view fileName;
  std::vector<std::string> createdFolders;
  bool createdFile = false;

  // Note(outcome, error) << "text": one log line, written when the entry's turn comes.
  class Line {
   public:
    Line(Outcome& outcome, Severity level) : outcome_(outcome), level_(level) {}
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    ~Line() {
      try {
        outcome_.lines.push_back({level_, text_.str()});
      } catch (...) {  // NOLINT(bugprone-empty-catch): a line lost to memory shortage
      }
    }
    template <typename T>
    Line& operator<<(const T& value) {
      text_ << value;
      return *this;
    }

   private:
    Outcome& outcome_;
    Severity level_;
    std::ostringstream text_;
  };
  Line Note(Severity level) { return Line(*this, level); }
};

// One extraction: the entries in archive order, their outcomes, and who has done what.
struct ZipExtractor::Run {
  Run(bool keep, const fs::path& destinationFolder)
      : keepFolders(keep), destination(destinationFolder), folders(destinationFolder) {}

  bool keepFolders;
  const fs::path& destination;
  ExtractionFolders folders;
  std::vector<PlannedEntry> entries;
  // The status that ended the walk through the central directory: the end of the list, an
  // entry whose information cannot be read (at index entries.size()), or another error.
  int walkStatus = UNZ_END_OF_LIST_OF_FILE;
  bool walkFailedAtEntry = false;

  std::vector<Outcome> outcomes;
  std::vector<char> done;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> firstFailure{kNone};
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t donePrefix = 0;  // entries before it are all done (guarded by mutex)
  std::size_t emitted = 0;     // entries logged so far (emitting thread only)
  std::vector<fs::path>* output = nullptr;

  void Finish(std::size_t index) {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      done[index] = 1;
      while (donePrefix < done.size() && done[donePrefix] != 0) ++donePrefix;
    }
    changed.notify_all();
  }
  void Fail(std::size_t index) {
    std::size_t current = firstFailure.load();
    while (index < current && !firstFailure.compare_exchange_weak(current, index)) {
    }
  }
  // Waits until every entry before index is done; false when one of them failed.
  bool WaitForEarlier(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return donePrefix >= index || firstFailure.load() < index; });
    return firstFailure.load() >= index;
  }
};

struct ZipExtractor::Worker {
  ZipArchiveFile file;
  UnzHandle handle;
  std::unique_ptr<char[]> buffer;
  std::uint32_t crc = 0;  // of the stored entry being copied

  bool Open(const fs::path& archive) {
    zlib_filefunc64_def functions = file.Functions();
    handle.reset(unzOpen2_64(archive.c_str(), &functions));
    if (handle && !buffer) buffer.reset(new (std::nothrow) char[kCopyBufferSize]);
    return handle && buffer;
  }
};

namespace {

// Entries that depend on each other's order: one target written twice, or a file where
// another entry needs a folder. They are extracted one after the other.
template <typename Entries>
bool EntriesDependOnEachOther(const Entries& entries, bool keepFolders) {
  std::unordered_set<std::string> files;
  std::unordered_set<std::string> folders;
  for (const auto& entry : entries) {
    const std::string_view fileName = FileNameOf(entry.name);
    if (fileName.empty()) continue;
    if (!keepFolders) {
      if (!files.emplace(std::string(fileName)).second) return true;
      continue;
    }
    const auto components = SplitRelativeChecked(entry.name);
    if (!components) continue;  // refused when its turn comes
    std::string key;
    for (std::size_t i = 0; i < components->size(); ++i) {
      if (i > 0) key += '/';
      key += (*components)[i];
      if (i + 1 < components->size()) folders.insert(key);
    }
    if (!files.insert(key).second) return true;
  }
  return std::any_of(folders.begin(), folders.end(),
                     [&files](const std::string& folder) { return files.count(folder) != 0; });
}

}  // namespace

ZipExtractor::ZipExtractor(fs::path archive)
    : archive_(std::move(archive)),
      maxThreads_(std::max(1u, std::thread::hardware_concurrency())) {}

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
  Worker first;
  if (!first.Open(archive_)) {
    // minizip refuses an archive without entries, which is a valid (empty) archive.
    if (first.handle == nullptr && IsEmptyArchive(archive_)) return true;
    LogOpenFailure();
    return false;
  }
  void* archive = first.handle.get();
  int status = unzGoToFirstFile(archive);
  if (status != UNZ_OK) return status == UNZ_END_OF_LIST_OF_FILE;

  Run run(keepFolders, destination);
  run.output = output;
  std::uint64_t bytes = 0;
  {
    std::vector<char> name(kNameBufferSize + 1);
    for (;;) {
      PlannedEntry entry;
      status = unzGetCurrentFileInfo64(archive, &entry.info, name.data(), kNameBufferSize, nullptr,
                                       0, nullptr, 0);
      if (status == UNZ_OK) status = unzGetFilePos64(archive, &entry.position);
      if (status != UNZ_OK) {
        run.walkStatus = status;
        run.walkFailedAtEntry = true;
        break;
      }
      entry.name.assign(name.data(),
                        std::min<std::size_t>(entry.info.size_filename, kNameBufferSize));
      bytes += entry.info.uncompressed_size;
      run.entries.push_back(std::move(entry));
      status = unzGoToNextFile(archive);
      if (status != UNZ_OK) {
        run.walkStatus = status;
        break;
      }
    }
  }
  run.outcomes.resize(run.entries.size());
  run.done.assign(run.entries.size(), 0);

  unsigned threads = static_cast<unsigned>(std::min<std::size_t>(maxThreads_, run.entries.size()));
  const bool small = bytes < kParallelBytes || run.entries.size() < kParallelEntries ||
                     bytes / run.entries.size() < kParallelBytesPerEntry;
  if ((small && !threadsChosen_) || EntriesDependOnEachOther(run.entries, keepFolders)) {
    threads = 1;
  }
  std::vector<std::unique_ptr<Worker>> helpers;
  std::vector<std::thread> started;
  const CancelTokenPtr cancel = CurrentCancelToken();
  for (unsigned i = 1; i < threads; ++i) {
    auto worker = std::make_unique<Worker>();
    try {
      started.emplace_back([this, &run, worker = worker.get(), cancel] {
        // The caller's job may be cancelled: its helpers check the same token.
        const CancelScope scope(cancel);
        // A helper without its own handle leaves the entries to the others.
        if (worker->Open(archive_)) Work(run, *worker, false);
      });
      helpers.push_back(std::move(worker));
    } catch (const std::system_error&) {
      break;  // fewer threads then
    }
  }
  Work(run, first, true);
  for (std::thread& thread : started) thread.join();

  // Everything is known now: log what is left, in archive order, up to the first failure.
  Emit(run, run.entries.size());
  if (run.emitted < run.entries.size()) {
    const Outcome& failed = run.outcomes[run.emitted];
    if (failed.result == kCancelled) {
      HW_LOG(log_, info) << "Extraction of " << archive_ << " cancelled";
    } else if (failed.result == kStopped) {
      HW_LOG(log_, info) << "Extraction stopped before " << run.entries[run.emitted].name;
    } else {
      HW_LOG(log_, error) << "Failed to open file: unzStatus " << failed.result;
    }
    // What later entries made meanwhile is taken back: as if they had never been reached.
    for (std::size_t i = run.entries.size(); i-- > run.emitted + 1;) {
      Outcome& later = run.outcomes[i];
      if (later.createdFile) run.folders.Remove(later.folders, later.fileName);
      for (auto made = later.createdFolders.rbegin(); made != later.createdFolders.rend(); ++made) {
        const auto parts = SplitRelativeChecked(*made);
        if (parts) run.folders.Remove(*parts, {});
      }
    }
    return false;
  }
  if (run.walkFailedAtEntry) {
    HW_LOG(log_, error) << "Failed to open file: unzStatus " << run.walkStatus;
    return false;
  }
  return run.walkStatus == UNZ_END_OF_LIST_OF_FILE;
}

void ZipExtractor::Work(Run& run, Worker& worker, bool emits) {
  for (;;) {
    const std::size_t index = run.next.fetch_add(1);
    if (index >= run.entries.size() || index > run.firstFailure.load()) return;
    Outcome& outcome = run.outcomes[index];
    if (CancelRequestedHere()) {
      outcome.result = kCancelled;
    } else if (ShouldStop()) {
      outcome.result = kStopped;
    } else {
      try {
        outcome.result = ExtractEntry(run, worker, index, outcome);
      } catch (const std::exception& error) {
        outcome.Note(Severity::error) << "error: " << error.what();
        outcome.result = UNZ_INTERNALERROR;
      }
      unzCloseCurrentFile(worker.handle.get());
    }
    if (outcome.result != 0) run.Fail(index);
    run.Finish(index);
    if (emits) {
      // The entries known so far are logged at once; the rest once all are known.
      std::size_t ready = 0;
      {
        const std::lock_guard<std::mutex> lock(run.mutex);
        ready = run.donePrefix;
      }
      Emit(run, ready);
    }
  }
}

void ZipExtractor::Emit(Run& run, std::size_t upTo) {
  for (; run.emitted < upTo && run.done[run.emitted] != 0; ++run.emitted) {
    Outcome& outcome = run.outcomes[run.emitted];
    for (const LogLine& line : outcome.lines) HW_LOG_AT(log_, line.level) << line.text;
    outcome.lines.clear();
    if (outcome.result != 0) return;
    if (run.output != nullptr) run.output->push_back(outcome.target);
  }
}

int ZipExtractor::ExtractEntry(Run& run, Worker& worker, std::size_t index, Outcome& outcome) {
  constexpr Severity error = Severity::error;
  const PlannedEntry& entry = run.entries[index];
  void* archive = worker.handle.get();
  int status = unzGoToFilePos64(archive, &entry.position);
  // minizip hands out the raw bytes of methods it cannot inflate (bzip2) and the cipher text
  // of encrypted entries; both would be written as if they were the file.
  if (status == UNZ_OK && entry.info.compression_method != 0 &&
      entry.info.compression_method != Z_DEFLATED) {
    outcome.Note(error) << "Unsupported compression method " << entry.info.compression_method
                        << " in zip";
    status = UNZ_BADZIPFILE;
  }
  if (status == UNZ_OK && (entry.info.flag & 1u) != 0) {
    outcome.Note(error) << "Encrypted entries in zip are not supported";
    status = UNZ_BADZIPFILE;
  }
  if (status == UNZ_OK) status = unzOpenCurrentFile(archive);
  if (status != UNZ_OK) return status;

  const std::string_view fileName = FileNameOf(entry.name);
  if (fileName.empty()) {
    outcome.Note(Severity::trace) << "Encountered unnamed file in zip: " << entry.name;
    return 0;
  }
  // The whole stored name is checked in both modes: an archive that tries to climb out of
  // its folder is not trusted for its other names either.
  const auto components = SplitRelativeChecked(entry.name);
  const auto full = JoinRelativeChecked(run.destination, entry.name);
  const auto flat = JoinChecked(run.destination, fileName);
  if (!components || !full || !flat) {
    outcome.Note(error) << "Refusing zip entry outside the destination: " << entry.name;
    return kRefusedEntry;
  }
  if (IsSymbolicLink(entry.info)) {
    outcome.Note(error) << "Refusing symbolic link in zip: " << entry.name;
    return kRefusedEntry;
  }
  const fs::path& target = run.keepFolders ? *full : *flat;
  // No path is made that other programs cannot open or remove: PATH_MAX counts the
  // terminating NUL too.
  if (target.native().size() >= PATH_MAX) {
    outcome.Note(error) << "Refusing zip entry whose path is longer than " << PATH_MAX - 1
                        << " bytes (" << target.native().size() << "): " << NameForLog(entry.name);
    return kRefusedEntry;
  }
  if (run.keepFolders) outcome.folders.assign(components->begin(), components->end() - 1);
  outcome.fileName = fileName;

  const ExtractionFolders::Folder folder =
      run.folders.Open(outcome.folders, true, &outcome.createdFolders);
  if (folder.status == ExtractionFolders::Status::Link) {
    outcome.Note(error) << "Refusing zip entry below a symbolic link: " << entry.name;
    return kRefusedEntry;
  }
  if (folder.status != ExtractionFolders::Status::Ok) {
    outcome.Note(error) << "error: Failed to create folder for " << target << ": error "
                        << std::strerror(folder.error);
    outcome.Note(error) << "error: Failed to create " << target << ": "
                        << std::strerror(folder.error);
    return UNZ_ERRNO;
  }

  // The file is always new: whatever sits at the target (a file of the user's, a symbolic or
  // hard link to one outside the destination) is never written into. It is replaced by a
  // rename once the new data is whole and checked, so a failed entry leaves it as it was.
  const bool ownerExecute = (UnixMode(entry.info) & S_IXUSR) != 0;
  const int dir = folder.fd->get();
  const std::string name(fileName);
  constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const mode_t mode = kCreateMode | (ownerExecute ? S_IXUSR : 0);
  UniqueFd file(::openat(dir, name.c_str(), kCreate, mode));
  PartFile part(dir);
  if (!file && errno == EEXIST) {
    // Replacing is done in archive order only, so that nothing is lost to an entry that an
    // earlier failure would have kept from running.
    if (!run.WaitForEarlier(index)) return kAbandoned;
    file = part.Create(name, kCreate, mode);
  }
  if (!file) {
    // An entry that cannot be written is a failed extraction, not a finished one.
    outcome.Note(error) << "error: Failed to create " << target << ": " << std::strerror(errno);
    return UNZ_ERRNO;
  }
  outcome.createdFile = true;
  outcome.target = target;

  const bool stored = entry.info.compression_method == 0 &&
                      entry.info.compressed_size == entry.info.uncompressed_size;
  const int copyStatus = stored ? CopyStored(worker, entry, file.get(), outcome)
                                : CopyInflated(worker, file.get(), outcome);
  if (copyStatus != 0) return copyStatus;
  if (ownerExecute && !AddOwnerExecute(file.get())) {
    outcome.Note(error) << "error: Failed to set the permissions of " << target << ": "
                        << std::strerror(errno);
    return UNZ_ERRNO;
  }
  if (::close(file.release()) != 0) {
    outcome.Note(error) << "error in writing extracted file";
    return -1;
  }
  if (stored) {
    // The data was read past minizip, which therefore has nothing to compare.
    const std::uint32_t expected = static_cast<std::uint32_t>(entry.info.crc);
    if (worker.crc != expected) {
      outcome.Note(error) << "error " << UNZ_CRCERROR << " with zipfile in unzCloseCurrentFile";
      return UNZ_CRCERROR;
    }
  }
  const int closeStatus = unzCloseCurrentFile(archive);
  if (closeStatus != UNZ_OK) {
    outcome.Note(error) << "error " << closeStatus << " with zipfile in unzCloseCurrentFile";
    return closeStatus;
  }
  if (!part.MoveTo(name)) {
    outcome.Note(error) << "error: Failed to create " << target << ": " << std::strerror(errno);
    return UNZ_ERRNO;
  }
  return 0;
}

// Stored data is read straight from the archive at its offset into the copy buffer and
// checked here: no pass through minizip's own 16 KiB buffer.
int ZipExtractor::CopyStored(Worker& worker, const PlannedEntry& entry, int target,
                             Outcome& outcome) {
  std::uint64_t offset = unzGetCurrentFileZStreamPos64(worker.handle.get());
  std::uint64_t remaining = entry.info.uncompressed_size;
  char* buffer = worker.buffer.get();
  worker.crc = 0;
  while (remaining > 0) {
    if (ShouldStop()) return kStopped;
    if (CancelRequestedHere()) {
      // Fails the entry like a write that cannot go on.
      outcome.Note(Severity::info) << "Extraction cancelled while writing " << outcome.target;
      return UNZ_ERRNO;
    }
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kCopyBufferSize));
    const std::int64_t count = worker.file.ReadAt(buffer, wanted, offset);
    if (count != static_cast<std::int64_t>(wanted)) {
      outcome.Note(Severity::error)
          << "error " << UNZ_ERRNO << " with zipfile in unzReadCurrentFile";
      return UNZ_ERRNO;
    }
    worker.crc = Crc32Update(worker.crc, buffer, wanted);
    if (!WriteAll(target, buffer, wanted)) {
      outcome.Note(Severity::error) << "error in writing extracted file";
      return -1;
    }
    offset += wanted;
    remaining -= wanted;
  }
  return 0;
}

int ZipExtractor::CopyInflated(Worker& worker, int target, Outcome& outcome) {
  char* buffer = worker.buffer.get();
  for (;;) {
    if (ShouldStop()) return kStopped;
    if (CancelRequestedHere()) {
      // Fails the entry like a write that cannot go on.
      outcome.Note(Severity::info) << "Extraction cancelled while writing " << outcome.target;
      return UNZ_ERRNO;
    }
    const int count = unzReadCurrentFile(worker.handle.get(), buffer, kCopyBufferSize);
    if (count < 0) {
      outcome.Note(Severity::error) << "error " << count << " with zipfile in unzReadCurrentFile";
      return count;
    }
    if (count == 0) return 0;
    if (!WriteAll(target, buffer, static_cast<std::size_t>(count))) {
      outcome.Note(Severity::error) << "error in writing extracted file";
      return -1;
    }
  }
}

}  // namespace hopwell
