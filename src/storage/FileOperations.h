#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// Each operation reports failure by its result and one log line; none throws.

// The first of path, path_0, path_1, ... (suffix after the whole final component) that
// does not exist.
boost::filesystem::path UniquePath(const boost::filesystem::path& path);

// Copies the contents of source into destination, recursively, replacing what is there.
bool CopyFolder(const boost::filesystem::path& source, const boost::filesystem::path& destination);

// Removes path and everything below it; a missing path counts as removed.
bool RemovePath(const boost::filesystem::path& path);

// True when a folder (or anything) exists at path afterwards.
bool CreateFolder(const boost::filesystem::path& path);

struct FileCloser {
  void operator()(std::FILE* file) const noexcept {
    if (file != nullptr) std::fclose(file);
  }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens path with std::fopen's mode string; an empty handle on failure.
FileHandle OpenFile(const boost::filesystem::path& path, const char* mode);

// CRC-32 (zlib/ZIP polynomial) of the file's bytes; 0 when it cannot be opened.
std::uint32_t FileCrc32(const boost::filesystem::path& path);

}  // namespace hopwell
