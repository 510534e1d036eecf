#include "base/Logging.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <mutex>
#include <new>
#include <sstream>
#include <vector>

#include <fmt/format.h>
#include <boost/filesystem/operations.hpp>

#include "base/LogRing.h"
#include "base/LogTap.h"
#include "base/LogWriter.h"

namespace hopwell {

namespace log_detail {

// Nothing is taken until the log file is set up or a test taps the records.
std::atomic<int> lowestTaken{static_cast<int>(Severity::fatal) + 1};

bool RecordText::Grow(std::size_t more) {
  std::size_t grown = capacity < 256 ? 256 : capacity * 2;
  if (grown < size + more) grown = size + more;
  char* bytes = static_cast<char*>(std::realloc(data, grown));
  if (bytes == nullptr) return false;
  data = bytes;
  capacity = grown;
  return true;
}

}  // namespace log_detail

namespace {

namespace fs = boost::filesystem;

constexpr std::time_t kMaxLogAgeSeconds = 259200;
// A ring this full wakes the writer rather than waiting for its next round.
constexpr std::size_t kWakeBytes = LogRing::kCapacity / 4;
constexpr std::string_view kLevelNames[] = {"trace", "debug", "info", "warning", "error", "fatal"};

std::atomic<LogTap> tap{nullptr};
// The writer once InitLogging started it, for the crash path (which may not construct it).
std::atomic<LogWriter*> startedWriter{nullptr};

void UpdateLowestTaken() {
  int taken = static_cast<int>(Severity::fatal) + 1;
  if (tap.load() != nullptr) {
    taken = static_cast<int>(Severity::trace);
  } else if (startedWriter.load() != nullptr) {
    taken = static_cast<int>(Severity::info);
  }
  log_detail::lowestTaken.store(taken);
}

LogSource& LoggingLog() {
  static LogSource source;
  return source;
}

// The fixed-width head of a line, "YYYY-MM-DD HH:MM:SS.ffffff [0x0000a1b2]: <", kept per
// thread: the date and time text is made once per second, the thread part once.
struct LineHead {
  static constexpr std::size_t kMicros = 20;  // where the six fractional digits go
  static constexpr std::size_t kSize = 42;
  std::time_t second = -1;
  char text[kSize + 1] = {};

  // The kernel's id of the thread, as ps -L, debuggers and crash records show it.
  void SetThread(pid_t thread) {
    std::snprintf(text + 26, sizeof text - 26, " [0x%08x]: <", static_cast<unsigned>(thread));
  }
  void Stamp(const timespec& now) {
    if (now.tv_sec != second) {
      std::tm local{};
      ::localtime_r(&now.tv_sec, &local);
      std::strftime(text, 20, "%Y-%m-%d %H:%M:%S", &local);
      text[19] = '.';
      second = now.tv_sec;
    }
    long micros = now.tv_nsec / 1000;
    for (std::size_t i = kMicros + 5; i + 1 > kMicros; --i) {
      text[i] = static_cast<char>('0' + micros % 10);
      micros /= 10;
    }
  }
};

// What a thread needs to log: the text of the records it builds, the head of its lines and
// the ring its lines go out through.
struct ThreadLog {
  log_detail::RecordText text;
  LineHead head;
  LogRing* ring = nullptr;
};

// A plain pointer, usable even while the thread's destructors run; the owner below ends the
// thread's log when the thread ends.
thread_local ThreadLog* threadLog = nullptr;
thread_local bool threadLogEnded = false;

struct ThreadLogOwner {
  ThreadLog* log = nullptr;
  ~ThreadLogOwner() {
    threadLogEnded = true;
    threadLog = nullptr;
    if (log == nullptr) return;
    if (log->ring != nullptr) log->ring->GiveBack();
    std::free(log->text.data);
    delete log;
  }
};
thread_local ThreadLogOwner threadLogOwner;

ThreadLog* SetUpThreadLog() noexcept {
  if (threadLogEnded) return nullptr;
  auto* log = new (std::nothrow) ThreadLog;
  if (log == nullptr) return nullptr;
  log->head.SetThread(::gettid());
  threadLogOwner.log = log;
  threadLog = log;
  return log;
}

// For records of threads whose own log has ended (a destructor run at thread or process
// exit logs), one at a time.
struct SharedLog {
  std::recursive_mutex lock;
  ThreadLog log;
};

SharedLog& Shared() {
  static SharedLog* const shared = new SharedLog;
  return *shared;
}

// Copies "head level> message" and the newline the message lacks into `out`.
void FillLine(char* out, const LineHead& head, std::string_view level, std::string_view message,
              bool addNewline) {
  std::memcpy(out, head.text, LineHead::kSize);
  out += LineHead::kSize;
  std::memcpy(out, level.data(), level.size());
  out += level.size();
  *out++ = '>';
  *out++ = ' ';
  if (!message.empty()) std::memcpy(out, message.data(), message.size());
  if (addNewline) out[message.size()] = '\n';
}

// One line for the file: stamped, put in the thread's ring and published.
void PublishLine(ThreadLog& log, LogWriter& writer, Severity level, std::string_view message) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  log.head.Stamp(now);
  const std::string_view name = kLevelNames[static_cast<int>(level)];
  // As the file sink always did: a newline only where the message does not end in one.
  const bool addNewline = message.empty() || message.back() != '\n';
  const std::size_t size =
      LineHead::kSize + name.size() + 2 + message.size() + (addNewline ? 1 : 0);
  const std::uint32_t flags = addNewline ? LogRing::kNewlineAdded : 0;
  const std::uint64_t stamp = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000 +
                              static_cast<std::uint64_t>(now.tv_nsec);
  LogRing& ring = *log.ring;
  if (size <= LogRing::kLongestInline) {
    char* out = ring.Reserve(size);
    if (out == nullptr) {
      // The writer fell behind: this thread writes out the ring itself.
      writer.Drain();
      out = ring.Reserve(size);
      if (out == nullptr) return;
    }
    FillLine(out, log.head, name, message, addNewline);
    ring.Publish(size, flags, stamp);
    return;
  }
  char* block = new (std::nothrow) char[size];
  if (block == nullptr) return;
  FillLine(block, log.head, name, message, addNewline);
  if (!ring.PublishBlock(block, size, flags, stamp)) {
    writer.Drain();
    if (!ring.PublishBlock(block, size, flags, stamp)) delete[] block;
  }
}

void Deliver(ThreadLog& log, Severity level, std::string_view message) noexcept {
  if (const LogTap taps = tap.load(std::memory_order_acquire)) {
    try {
      taps(level, message);
    } catch (...) {  // NOLINT(bugprone-empty-catch): a test's tap does not end the record
    }
  }
  LogWriter* writer = startedWriter.load(std::memory_order_relaxed);
  if (level < Severity::info || writer == nullptr) return;
  if (log.ring == nullptr) {
    try {
      log.ring = LogRing::Take();
    } catch (...) {
      return;  // no memory for a ring: the record is lost, the program goes on
    }
  }
  PublishLine(log, *writer, level, message);
  if (level >= Severity::warning || !writer->Threaded()) {
    // Warnings and worse are in the file when the statement ends, with everything before.
    writer->Drain();
  } else if (log.ring->Holds(kWakeBytes)) {
    writer->Wake();
  }
}

}  // namespace

LogRecord::LogRecord(const LogSource&, Severity level) noexcept
    : level_(level), exceptions_(std::uncaught_exceptions()), shared_(false) {
  ThreadLog* log = threadLog;
  if (log == nullptr) log = SetUpThreadLog();
  if (log == nullptr) {
    SharedLog& shared = Shared();
    shared.lock.lock();
    shared.log.head.SetThread(::gettid());
    log = &shared.log;
    shared_ = true;
  }
  text_ = &log->text;
  start_ = text_->size;
}

LogRecord::~LogRecord() {
  log_detail::RecordText& text = *text_;
  // A record whose streaming threw is not logged (as a stream's record was not).
  if (std::uncaught_exceptions() <= exceptions_) {
    ThreadLog& log = shared_ ? Shared().log : *threadLog;
    Deliver(log, level_, std::string_view(text.data + start_, text.size - start_));
  }
  text.size = start_;
  if (shared_) Shared().lock.unlock();
}

LogRecord& LogRecord::operator<<(const fs::path& path) {
  text_->Append("\"", 1);
  for (const char c : path.native()) {
    if (c == '"' || c == '&') text_->Append("&", 1);
    text_->Append(&c, 1);
  }
  text_->Append("\"", 1);
  return *this;
}

void LogRecord::AppendSigned(long long value) {
  const fmt::format_int digits(value);
  text_->Append(digits.data(), digits.size());
}

void LogRecord::AppendUnsigned(unsigned long long value) {
  const fmt::format_int digits(value);
  text_->Append(digits.data(), digits.size());
}

// A stream's default: "%g" with six digits, in the classic locale whatever the C locale is.
void LogRecord::AppendDouble(double value) {
  char digits[64];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
  text_->Append(digits, static_cast<std::size_t>(result.ptr - digits));
}

void LogRecord::AppendStreamed(const void* value, void (*put)(std::ostream&, const void*)) {
  try {
    std::ostringstream out;
    put(out, value);
    const std::string text = out.str();
    text_->Append(text.data(), text.size());
  } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): the value is left out
  }
}

void SetLogTap(LogTap newTap) {
  tap.store(newTap, std::memory_order_release);
  UpdateLowestTaken();
}

void RemoveOldLogFiles(const fs::path& folder) {
  try {
    const std::time_t cutoff = std::time(nullptr) - kMaxLogAgeSeconds;
    std::vector<fs::path> stale;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      if (fs::is_regular_file(entry.status()) && fs::last_write_time(entry.path()) < cutoff) {
        stale.push_back(entry.path());
      }
    }
    for (const fs::path& path : stale) {
      HW_LOG(LoggingLog(), trace) << "Deleting " << path;
      fs::remove(path);
    }
  } catch (const fs::filesystem_error& error) {
    HW_LOG(LoggingLog(), error) << "RemoveOldLogFiles failed " << error.what();
  }
}

void InitLogging(const fs::path& folder) {
  // Before the writer starts, so that these records reach no file.
  RemoveOldLogFiles(folder);
  LogWriter& writer = LogWriter::Instance();
  writer.Start(folder);
  startedWriter.store(&writer);
  UpdateLowestTaken();
  static const bool stopsAtExit = [] {
    // Command threads may still log after this; their records are written as they come.
    std::atexit([] { LogWriter::Instance().Stop(); });
    return true;
  }();
  (void)stopsAtExit;
}

void FlushLog() {
  if (LogWriter* writer = startedWriter.load()) writer->Drain();
}

void FlushLogAfterCrash() noexcept {
  if (LogWriter* writer = startedWriter.load()) writer->DrainAfterCrash();
}

}  // namespace hopwell
