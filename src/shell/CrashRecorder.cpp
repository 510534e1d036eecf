#include "shell/CrashRecorder.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <boost/stacktrace/safe_dump_to.hpp>

#include "base/CrashStack.h"
#include "base/Logging.h"
#include "shell/TerminationSignals.h"
#include "storage/LocalFolders.h"

extern char** environ;

namespace hopwell {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kMaxFrames = 128;

// Prepared at installation; the handler only reads them.
struct Prepared {
  char folder[PATH_MAX] = {};
  char appName[64] = {};
  char executable[PATH_MAX] = {};
  char frontEnd[16] = "headless";
  long utcOffsetSeconds = 0;
};
Prepared prepared;
std::atomic<int> handlingThread{0};

// Text assembled without allocation, for use inside the handler.
class FixedText {
 public:
  void Add(const char* text) {
    while (*text != '\0' && length_ + 1 < sizeof(buffer_)) buffer_[length_++] = *text++;
    buffer_[length_] = '\0';
  }
  void AddDecimal(long long value, int width = 0) {
    char digits[24];
    int count = 0;
    const bool negative = value < 0;
    unsigned long long rest = negative ? 0ULL - static_cast<unsigned long long>(value)
                                       : static_cast<unsigned long long>(value);
    do {
      digits[count++] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    } while (rest != 0);
    while (count < width) digits[count++] = '0';
    if (negative) Add("-");
    AddReversed(digits, count);
  }
  void AddHex(std::uintptr_t value, int width = 1) {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = "0123456789abcdef"[value & 0xf];
      value >>= 4;
    } while (value != 0);
    while (count < width) digits[count++] = '0';
    Add("0x");
    AddReversed(digits, count);
  }
  const char* c_str() const { return buffer_; }
  std::size_t size() const { return length_; }
  void Clear() {
    length_ = 0;
    buffer_[0] = '\0';
  }

 private:
  void AddReversed(const char* digits, int count) {
    char text[24];
    for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
    text[count] = '\0';
    Add(text);
  }

  char buffer_[PATH_MAX + 256] = {};
  std::size_t length_ = 0;
};

void CopyText(char* target, std::size_t size, const char* text) {
  std::size_t i = 0;
  for (; i + 1 < size && text[i] != '\0'; ++i) target[i] = text[i];
  target[i] = '\0';
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    case SIGFPE:
      return "SIGFPE";
    case SIGABRT:
      return "SIGABRT";
    default:
      return "signal";
  }
}

// "YYYYMMDD_HHMMSS" in local time from the offset taken at start-up (localtime_r may take
// a lock, so it has no place in the handler).
void AddLocalTimeText(FixedText& text) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const long long local = static_cast<long long>(now.tv_sec) + prepared.utcOffsetSeconds;
  long long days = local / 86400;
  long long seconds = local % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthIndex = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  text.AddDecimal(year, 4);
  text.AddDecimal(month, 2);
  text.AddDecimal(day, 2);
  text.Add("_");
  text.AddDecimal(seconds / 3600, 2);
  text.AddDecimal(seconds / 60 % 60, 2);
  text.AddDecimal(seconds % 60, 2);
}

// Writes all of `size` bytes; false (errno set) when the file refuses them.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool WriteText(int fd, const FixedText& text) {
  return WriteAll(fd, text.c_str(), text.size());
}

bool CopyMemoryMap(int fd) {
  const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (maps < 0) return true;  // nothing to copy is not a failure of the record
  char buffer[4096];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(maps, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (!WriteAll(fd, buffer, static_cast<std::size_t>(got))) {
      ok = false;
      break;
    }
  }
  ::close(maps);
  return ok;
}

// The record itself: false with errno set when it could not be written in full.
bool WriteRecord(int fd, int signal, const siginfo_t* info) {
  FixedText text;
  text.Add("Kelvory Hopwell crash record\nSignal: ");
  text.AddDecimal(signal);
  text.Add(" (");
  text.Add(SignalName(signal));
  text.Add(")\nCode: ");
  text.AddDecimal(info != nullptr ? info->si_code : 0);
  text.Add("\nFault address: ");
  text.AddHex(reinterpret_cast<std::uintptr_t>(info != nullptr ? info->si_addr : nullptr));
  text.Add("\nThread: ");
  text.AddHex(static_cast<std::uintptr_t>(::syscall(SYS_gettid)), 8);
  text.Add("\nProcess: ");
  text.AddDecimal(::getpid());
  text.Add("\nReturn addresses:\n");
  if (!WriteText(fd, text)) return false;

  void* frames[kMaxFrames];
  const std::size_t count = boost::stacktrace::safe_dump_to(frames, sizeof(frames));
  for (std::size_t i = 0; i < count && frames[i] != nullptr; ++i) {
    text.Clear();
    text.AddHex(reinterpret_cast<std::uintptr_t>(frames[i]));
    text.Add("\n");
    if (!WriteText(fd, text)) return false;
  }
  text.Clear();
  text.Add("Memory map:\n");
  return WriteText(fd, text) && CopyMemoryMap(fd);
}

// Starts the client again as the helper and waits for it. A raw clone runs no fork
// handlers of the libraries in this (broken) process; the child only calls execve. The
// program is this very one, through /proc/self/exe: the path read at start-up may be gone
// or hold another version after a package upgrade. That path is only the fallback for a
// system without /proc.
void RunHelper(const char* recordName, const FixedText& status) {
  char self[] = "/proc/self/exe";
  char* program = prepared.executable[0] != '\0' ? prepared.executable : self;
  char option[32];
  CopyText(option, sizeof(option), kCrashReportOption);
  char name[128];
  CopyText(name, sizeof(name), recordName);
  char statusText[64];
  CopyText(statusText, sizeof(statusText), status.c_str());
  char* argv[] = {program, option, name, statusText, prepared.frontEnd, nullptr};
  const long child = ::syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, nullptr);
  if (child == 0) {
    ::execve(self, argv, environ);
    ::execve(program, argv, environ);
    ::_exit(127);
  }
  if (child < 0) return;
  int waitStatus = 0;
  while (::waitpid(static_cast<pid_t>(child), &waitStatus, 0) < 0 && errno == EINTR) {
  }
}

void HandleFatalSignal(int signal, siginfo_t* info, void*) {
  const int savedErrno = errno;
  const int self = static_cast<int>(::syscall(SYS_gettid));
  int expected = 0;
  if (!handlingThread.compare_exchange_strong(expected, self)) {
    // Another thread is already reporting: wait for it to end the process. The reporting
    // thread itself faulting again falls through to the default action.
    if (expected == self) EndByTerminationSignal(signal);
    for (;;) ::pause();
  }
  // What was logged before the fault goes into the log file first: it is what support reads.
  FlushLogAfterCrash();

  FixedText fileName;
  fileName.Add(prepared.appName);
  fileName.Add("_");
  AddLocalTimeText(fileName);
  fileName.Add(".dmp");
  FixedText path;
  path.Add(prepared.folder);
  path.Add("/");
  path.Add(fileName.c_str());

  FixedText status;
  // The folder normally exists (logging made it); recreate it in case it was removed.
  ::mkdir(prepared.folder, 0700);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    status.Add("create:");
    status.AddDecimal(errno);
  } else {
    if (WriteRecord(fd, signal, info)) {
      status.Add("ok");
    } else {
      status.Add("write:");
      status.AddDecimal(errno);
    }
    ::close(fd);
  }
  RunHelper(fileName.c_str(), status);
  errno = savedErrno;
  EndByTerminationSignal(signal);
}

}  // namespace

void SetCrashFrontEnd(const char* frontEnd) {
  CopyText(prepared.frontEnd, sizeof(prepared.frontEnd), frontEnd);
}

void InstallCrashRecorder(const char* appName) {
  CopyText(prepared.appName, sizeof(prepared.appName), appName);
  // Only the name: the folder is made by logging, or by the handler itself.
  try {
    CopyText(prepared.folder, sizeof(prepared.folder), (TempRoot() / "Hopwell").c_str());
  } catch (...) {
    CopyText(prepared.folder, sizeof(prepared.folder), "/tmp");
  }
  const ssize_t length =
      ::readlink("/proc/self/exe", prepared.executable, sizeof(prepared.executable) - 1);
  prepared.executable[length > 0 ? length : 0] = '\0';
  const time_t now = ::time(nullptr);
  tm local{};
  if (::localtime_r(&now, &local) != nullptr) prepared.utcOffsetSeconds = local.tm_gmtoff;

  // The unwinder loads what it needs on first use; do that now, not in the handler.
  void* warmUp[4];
  boost::stacktrace::safe_dump_to(warmUp, sizeof(warmUp));

  EnableCrashStacks();
  EnsureCrashStackForThisThread();
  struct sigaction action {};
  action.sa_sigaction = &HandleFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) ::sigaction(signal, &action, nullptr);
}

}  // namespace hopwell
