#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

namespace hopwell {

// Each operation reports failure by its result and one log line; none throws.

// True when something is at path (a link counts, wherever it points), false when nothing
// is. `error` is set only when that cannot be told: any failure but "not found".
bool PathExists(const boost::filesystem::path& path, boost::system::error_code& error);

// The first of path, path_0, path_1, ... (suffix after the whole final component) that
// does not exist. Empty, with `error` set, when a candidate cannot be looked at: it may be
// taken, so no free name is guessed.
boost::filesystem::path UniquePath(const boost::filesystem::path& path,
                                   boost::system::error_code& error);

// Copies the contents of source into destination, recursively, replacing what is there.
bool CopyFolder(const boost::filesystem::path& source, const boost::filesystem::path& destination);

// Removes path and everything below it; a missing path counts as removed.
bool RemovePath(const boost::filesystem::path& path);

// Removes base / relative and everything below it without ever following a link: a link
// among relative's own components (or relative itself being one) refuses the removal with
// ELOOP, and links met below are removed as links. base is trusted. A missing path counts
// as removed. False, with `error` set, at the first failure; what was removed stays removed.
bool RemoveTreeWithoutLinks(const boost::filesystem::path& base,
                            const boost::filesystem::path& relative,
                            boost::system::error_code& error);

// True when a folder (or anything) exists at path afterwards.
bool CreateFolder(const boost::filesystem::path& path);

struct FileCloser {
  void operator()(std::FILE* file) const noexcept {
    if (file != nullptr) std::fclose(file);
  }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// An open file descriptor, closed when the object goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// The names in the open folder `folder` (without "." and ".."), read through a descriptor of
// its own so that `folder` stays usable. 0, or the errno of the failing call.
int ListFolderNames(int folder, std::vector<std::string>& names);

// Opens path with std::fopen's mode string; an empty handle on failure.
FileHandle OpenFile(const boost::filesystem::path& path, const char* mode);

// CRC-32 (zlib/ZIP polynomial) of the file's bytes; 0 when it cannot be opened or read.
std::uint32_t FileCrc32(const boost::filesystem::path& path);

}  // namespace hopwell
