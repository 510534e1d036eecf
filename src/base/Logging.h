#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>
#include <type_traits>

namespace boost::filesystem {
class path;
}

namespace hopwell {

// The six levels, lowest first; the log file takes info and above.
enum class Severity { trace, debug, info, warning, error, fatal };

// Where a class's records come from. Every class that logs owns one; all of them write to the
// one log, so a source carries nothing and costs nothing.
class LogSource {};

// HW_LOG(source, info) << "text " << count << ' ' << path;
// A record below the lowest level anyone takes costs one load and one comparison: the source,
// the values and the stream are not even evaluated.
#define HW_LOG(source, level) HW_LOG_AT(source, ::hopwell::Severity::level)

// The same with a level known only at run time.
#define HW_LOG_AT(source, severity)                                            \
  for (bool hwLogTaken_ = ::hopwell::log_detail::Taken(severity); hwLogTaken_; \
       hwLogTaken_ = false)                                                    \
  ::hopwell::LogRecord(source, severity)

// Sets up the rotating log files in `folder` (the client's log folder, made by the caller).
// Called once at start-up.
void InitLogging(const boost::filesystem::path& folder);

// Deletes every regular file in `folder` last written more than three days ago.
void RemoveOldLogFiles(const boost::filesystem::path& folder);

// Writes out everything logged so far, so that the current log file holds it.
void FlushLog();

// The same from the fatal-signal handler: async-signal-safe, waits a bounded time for a
// writer it finds busy, never takes a lock for good.
void FlushLogAfterCrash() noexcept;

namespace log_detail {

// The lowest level that some destination takes (the file, a test's capture); records below
// it are dropped at once.
extern std::atomic<int> lowestTaken;

inline bool Taken(Severity level) {
  return static_cast<int>(level) >= lowestTaken.load(std::memory_order_relaxed);
}

// The text of the records the calling thread is building. A record streamed while another
// is being built (a value whose printing logs) follows it and is taken off again at its end.
struct RecordText {
  char* data = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;

  // False when there is no memory for `more` bytes: the value is left out.
  bool Grow(std::size_t more);
  void Append(const char* text, std::size_t length) {
    if (capacity - size < length && !Grow(length)) return;
    std::memcpy(data + size, text, length);
    size += length;
  }
};

template <typename T>
void PutStreamed(std::ostream& out, const void* value) {
  out << *static_cast<const T*>(value);
}

template <typename T>
inline constexpr bool kIsCharacter =
    std::is_same_v<T, char> || std::is_same_v<T, signed char> || std::is_same_v<T, unsigned char>;

}  // namespace log_detail

// One record: its values are written into the thread's buffer as they are streamed, with the
// text a std::ostream would give for them; the finished line goes to the log when the
// statement ends.
class LogRecord {
 public:
  LogRecord(const LogSource& source, Severity level) noexcept;
  ~LogRecord();
  LogRecord(const LogRecord&) = delete;
  LogRecord& operator=(const LogRecord&) = delete;

  LogRecord& operator<<(std::string_view text) {
    text_->Append(text.data(), text.size());
    return *this;
  }
  LogRecord& operator<<(const std::string& text) {
    text_->Append(text.data(), text.size());
    return *this;
  }
  LogRecord& operator<<(const char* text) {
    if (text != nullptr) text_->Append(text, std::strlen(text));
    return *this;
  }
  // Quoted, with '&' before every '"' and '&' inside, as the path's own stream output.
  LogRecord& operator<<(const boost::filesystem::path& path);

  template <typename T>
  LogRecord& operator<<(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
      text_->Append(value ? "1" : "0", 1);
    } else if constexpr (log_detail::kIsCharacter<T>) {
      const char c = static_cast<char>(value);
      text_->Append(&c, 1);
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
      AppendSigned(value);
    } else if constexpr (std::is_integral_v<T>) {
      AppendUnsigned(value);
    } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
      AppendDouble(value);
    } else if constexpr (std::is_array_v<T> &&
                         log_detail::kIsCharacter<std::remove_cv_t<std::remove_extent_t<T>>>) {
      *this << reinterpret_cast<const char*>(value);
    } else if constexpr (std::is_pointer_v<T> &&
                         log_detail::kIsCharacter<std::remove_cv_t<std::remove_pointer_t<T>>>) {
      *this << reinterpret_cast<const char*>(value);
    } else {
      AppendStreamed(&value, &log_detail::PutStreamed<T>);
    }
    return *this;
  }

 private:
  void AppendSigned(long long value);
  void AppendUnsigned(unsigned long long value);
  void AppendDouble(double value);
  void AppendStreamed(const void* value, void (*put)(std::ostream&, const void*));

  log_detail::RecordText* text_;
  std::size_t start_;
  Severity level_;
  int exceptions_;
  bool shared_;
};

}  // namespace hopwell
