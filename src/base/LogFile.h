#pragma once

#include <limits.h>

#include <cstddef>
#include <cstdint>

#include <boost/filesystem/path.hpp>

#include "base/LogFileCollector.h"

namespace hopwell {

// The log file being written: lines are gathered and written in large pieces, a new file
// begins before a line would take the current one to 1 MiB (the finished one goes to the
// collector), and a file is opened, truncated, only when a line comes for it.
//
// A file that cannot be opened or written ends nothing: the failure goes to NoteLogFailure,
// the lines of that drain are dropped, and the next drain tries again (a file that failed
// is finished and the next one begins).
//
// Used under the writer's lock. The *AfterCrash forms allocate nothing, throw nothing and
// call only async-signal-safe functions; they neither rotate nor collect.
class LogFile {
 public:
  // Registers the folder's existing log files; throws the error of a folder that cannot be
  // made or read.
  explicit LogFile(const boost::filesystem::path& folder);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // A drain begins: a file that could not be opened is tried again.
  void BeginDrain() { openFailed_ = false; }
  // One line; `newlineAdded` when its last byte was not part of the record.
  void Add(const char* bytes, std::size_t size, bool newlineAdded);
  // Writes what is gathered.
  void Flush();
  // The last rotation, at exit: the file goes to the collector, which may delete old ones,
  // but stays open for the lines of threads that still run.
  void FinishRun();
  // Before the writer moves to another folder: the file is closed and collected.
  void Close();

  void AddAfterCrash(const char* bytes, std::size_t size);
  void FlushAfterCrash();

 private:
  bool Open();
  void Rotate();
  void ReplaceFailedFile();
  void Gather(const char* bytes, std::size_t size, bool crashing);
  bool WriteGathered();
  void PrepareNextPath();

  static constexpr std::size_t kGatherSize = 64 * 1024;

  boost::filesystem::path folder_;
  LogFileCollector collector_;
  unsigned counter_ = 0;          // of the next file
  boost::filesystem::path path_;  // of the open file
  int fd_ = -1;
  std::uintmax_t written_ = 0;    // bytes the open file has been given
  bool failed_ = false;           // a write into the open file failed
  bool reuseName_ = false;        // the failed file was empty: the next one takes its name
  bool openFailed_ = false;       // in this drain
  char nextPath_[PATH_MAX] = {};  // for the crash path, which cannot build one
  std::size_t gathered_ = 0;
  char gather_[kGatherSize];
};

}  // namespace hopwell
