#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"

namespace hopwell {

// Extracts every entry of one zip archive into a folder.
//
// Entry names come from outside: an entry whose name would reach outside the destination
// (absolute, drive letter, "..", backslash tricks), a symbolic link entry, or a target that
// would be written through a symbolic link already in the destination is refused and ends
// the extraction with an error, whatever keepFolders says. What already sits at a target is
// never written into: the entry is written beside it and renamed over it once whole and
// checked, so an entry that fails leaves it as it was. Extracted files keep only the
// owner-execute bit of an entry made on Unix; other bits come from the umask, less write
// access for others.
//
// Archives with many entries that are not tiny are extracted by several threads, each with
// its own handle on the archive; the log lines, the output list and the first failure are
// those of an extraction in archive order, and nothing an entry after the first failure
// made is left.
class ZipExtractor {
 public:
  explicit ZipExtractor(boost::filesystem::path archive);

  // keepFolders: recreate each entry's folders below destination; otherwise every file
  // lands directly in destination. output, when given, receives the target of every
  // processed entry in archive order (an empty path for a skipped folder entry). True when
  // every entry was extracted or skipped as a folder entry; the first failing entry ends
  // the extraction, and files written before it stay.
  bool Extract(bool keepFolders, const boost::filesystem::path& destination,
               std::vector<boost::filesystem::path>* output = nullptr);

  // Asked before every entry and between the buffers of an entry's data, from the
  // extracting threads; once it answers true the extraction ends as failed. Never asked
  // unless set.
  void SetStopCheck(std::function<bool()> shouldStop) { shouldStop_ = std::move(shouldStop); }

  // Up to this many threads (at least one) extract whatever the archive's size. Unless set,
  // up to the machine's cores for archives large enough to gain from it.
  void SetMaxThreads(unsigned threads) {
    maxThreads_ = threads == 0 ? 1 : threads;
    threadsChosen_ = true;
  }

 private:
  struct PlannedEntry;
  struct Run;
  struct Worker;
  struct Outcome;

  void Work(Run& run, Worker& worker, bool emits);
  // Logs the outcomes of the entries before upTo that are known, in archive order, and
  // stops at the first failed one.
  void Emit(Run& run, std::size_t upTo);
  int ExtractEntry(Run& run, Worker& worker, std::size_t index, Outcome& outcome);
  int CopyStored(Worker& worker, const PlannedEntry& entry, int target, Outcome& outcome);
  int CopyInflated(Worker& worker, int target, Outcome& outcome);
  bool ShouldStop() const { return shouldStop_ && shouldStop_(); }
  void LogOpenFailure();

  boost::filesystem::path archive_;
  LogSource log_;
  std::function<bool()> shouldStop_;
  unsigned maxThreads_;
  bool threadsChosen_ = false;
};

}  // namespace hopwell
