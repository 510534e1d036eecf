#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// The numbered log files of one folder ("Hopwell_00000.log", "Hopwell_00001.log", ...): the
// number the next file takes, and which files go when the finished ones grow too large
// together or the volume runs short of space. The oldest go first.
class LogFileCollector {
 public:
  LogFileCollector(boost::filesystem::path folder, std::uintmax_t maxSize,
                   std::uintmax_t minFreeSpace);

  // "Hopwell_" + the counter in at least five digits + ".log".
  static std::string FileName(unsigned counter);
  // True for names FileName gives (more digits, and digits after ".log", are allowed), with
  // the counter they carry.
  static bool ParseName(const std::string& name, unsigned& counter);

  // Registers the folder's log files, oldest first, and returns the number after the highest
  // (0 without any). A folder that cannot be read throws its file-system error.
  unsigned Scan();

  // Registers a finished file of the folder, deleting the oldest ones before it while the
  // total would pass the size limit or the free space is below its floor. Throws the
  // file-system error of a file that cannot be looked at.
  void Store(const boost::filesystem::path& file);

 private:
  struct StoredFile {
    std::uintmax_t size;
    std::time_t written;
    boost::filesystem::path path;
  };

  std::uintmax_t FreeSpace() const;

  boost::filesystem::path folder_;
  std::uintmax_t maxSize_;
  std::uintmax_t minFreeSpace_;
  std::vector<StoredFile> files_;  // oldest first
  std::uintmax_t totalSize_ = 0;
};

}  // namespace hopwell
