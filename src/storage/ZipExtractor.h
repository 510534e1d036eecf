#pragma once

#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"

struct unz_file_info64_s;

namespace hopwell {

// Extracts every entry of one zip archive into a folder.
//
// Entry names come from outside: an entry whose name would reach outside the destination
// (absolute, drive letter, "..", backslash tricks), a symbolic link entry, or a target that
// would be written through a symbolic link already in the destination is refused and ends
// the extraction with an error, whatever keepFolders says. Extracted files keep only the
// owner-execute bit of an entry made on Unix; other bits come from the umask, less write
// access for others.
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

 private:
  struct Entry;
  int ExtractEntry(void* archive, bool keepFolders, const boost::filesystem::path& destination,
                   Entry& entry);
  int CopyEntryData(void* archive, const boost::filesystem::path& target);
  int CheckSupported(const unz_file_info64_s& info);
  void LogOpenFailure();

  boost::filesystem::path archive_;
  LogSource log_;
  std::vector<char> buffer_;
  std::vector<char> nameBuffer_;
  // The current entry was stored with the owner-execute bit by a Unix system.
  bool ownerExecute_ = false;
};

}  // namespace hopwell
