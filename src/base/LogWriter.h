#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include <boost/filesystem/path.hpp>

namespace hopwell {

class LogFile;

// Takes the lines the logging threads leave in their rings and writes them, in the order of
// their time stamps, into the log file. A thread of its own does that every half second
// and whenever a ring fills up; a thread that logs a warning or worse, or calls FlushLog,
// does it at once itself. Lives until the process ends.
class LogWriter {
 public:
  static LogWriter& Instance();

  // Begins (or moves) the log in `folder`: its existing files are registered and the writer
  // thread starts. Throws the file-system error of a folder that cannot be made or read.
  void Start(const boost::filesystem::path& folder);
  // At exit: the thread ends, everything logged is written and the file has its last
  // rotation. Lines logged later are written by the thread that logs them.
  void Stop();

  // Whether lines are taken at all (after Start).
  bool Accepting() const { return accepting_.load(std::memory_order_relaxed); }
  // Whether the writer thread runs; without it every line is written by its own thread.
  bool Threaded() const { return threaded_.load(std::memory_order_relaxed); }

  // Writes everything published so far.
  void Drain() noexcept;
  // Asks the writer thread to drain soon (a ring is filling up).
  void Wake() noexcept;
  // Drain from the fatal-signal handler; see FlushLogAfterCrash.
  void DrainAfterCrash() noexcept;

 private:
  LogWriter() = default;
  void Run();
  void StopThread();
  void DrainLocked(bool crashing) noexcept;

  std::mutex drainLock_;
  std::unique_ptr<LogFile> file_;  // under drainLock_
  std::atomic<bool> accepting_{false};
  std::atomic<bool> threaded_{false};

  std::mutex wakeLock_;
  std::condition_variable wake_;
  std::atomic<bool> wakeRequested_{false};
  bool stop_ = false;  // under wakeLock_
  std::thread thread_;
};

}  // namespace hopwell
