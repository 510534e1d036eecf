#include "base/LogFileCollector.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include <boost/filesystem/operations.hpp>

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr std::string_view kPrefix = "Hopwell_";
constexpr std::string_view kSuffix = ".log";
constexpr std::size_t kCounterWidth = 5;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

LogFileCollector::LogFileCollector(fs::path folder, std::uintmax_t maxSize,
                                   std::uintmax_t minFreeSpace)
    : folder_(std::move(folder)), maxSize_(maxSize), minFreeSpace_(minFreeSpace) {}

std::string LogFileCollector::FileName(unsigned counter) {
  char name[32];
  std::snprintf(name, sizeof name, "Hopwell_%05u.log", counter);
  return name;
}

bool LogFileCollector::ParseName(const std::string& name, unsigned& counter) {
  std::string_view rest(name);
  if (rest.substr(0, kPrefix.size()) != kPrefix) return false;
  rest.remove_prefix(kPrefix.size());
  std::size_t digits = 0;
  while (digits < rest.size() && IsDigit(rest[digits])) ++digits;
  if (digits < kCounterWidth) return false;
  unsigned long long value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    value = value * 10 + static_cast<unsigned>(rest[i] - '0');
    if (value > std::numeric_limits<unsigned>::max()) return false;
  }
  rest.remove_prefix(digits);
  if (rest.substr(0, kSuffix.size()) != kSuffix) return false;
  rest.remove_prefix(kSuffix.size());
  // A number after the suffix is how a clash of names would have been resolved.
  if (!std::all_of(rest.begin(), rest.end(), IsDigit)) return false;
  counter = static_cast<unsigned>(value);
  return true;
}

unsigned LogFileCollector::Scan() {
  boost::system::error_code error;
  if (fs::status(folder_, error).type() != fs::directory_file) return 0;
  unsigned next = 0;
  std::vector<StoredFile> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
    if (entry.status(error).type() != fs::regular_file) continue;
    const fs::path& path = entry.path();
    const bool known = std::any_of(files_.begin(), files_.end(),
                                   [&](const StoredFile& file) { return file.path == path; });
    unsigned counter = 0;
    if (known || !ParseName(path.filename().string(), counter)) continue;
    found.push_back({fs::file_size(path), fs::last_write_time(path), path});
    totalSize_ += found.back().size;
    // The highest number wins, counted the way an unsigned counter wraps.
    if (counter - next < 0x80000000u) next = counter + 1;
  }
  files_.insert(files_.end(), found.begin(), found.end());
  std::stable_sort(files_.begin(), files_.end(),
                   [](const StoredFile& a, const StoredFile& b) { return a.written < b.written; });
  return next;
}

void LogFileCollector::Store(const fs::path& file) {
  const StoredFile stored{fs::file_size(file), fs::last_write_time(file), file};
  // The file may have been registered by the scan, before it was written again.
  for (auto it = files_.begin(); it != files_.end(); ++it) {
    if (it->path == file) {
      totalSize_ -= it->size;
      files_.erase(it);
      break;
    }
  }
  std::uintmax_t freeSpace = FreeSpace();
  auto it = files_.begin();
  while (it != files_.end() && (totalSize_ + stored.size > maxSize_ ||
                                (minFreeSpace_ != 0 && minFreeSpace_ > freeSpace))) {
    boost::system::error_code error;
    if (fs::status(it->path, error).type() == fs::regular_file) {
      if (!fs::remove(it->path, error) && error) {
        ++it;  // in use or protected: left where it is
        continue;
      }
      freeSpace = FreeSpace();
    }
    totalSize_ -= it->size;
    it = files_.erase(it);
  }
  files_.push_back(stored);
  totalSize_ += stored.size;
}

std::uintmax_t LogFileCollector::FreeSpace() const {
  if (minFreeSpace_ == 0) return 0;
  struct statvfs volume {};
  // A volume that cannot be asked is taken to have room: nothing is deleted for its sake.
  if (::statvfs(folder_.c_str(), &volume) != 0) return std::numeric_limits<std::uintmax_t>::max();
  return static_cast<std::uintmax_t>(volume.f_bavail) * volume.f_frsize;
}

}  // namespace hopwell
