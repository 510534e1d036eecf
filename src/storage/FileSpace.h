#pragma once

#include <cstdint>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// Disk space for a file about to be written whose size is announced (a chapter's file in its
// parameter document). Reserved at once, its blocks are not allocated page by page as it is
// written, which on ext4 costs about as much as the copy into the page cache itself. The
// file's length does not change: what is read from it is what was written.
// Best effort: where the file system cannot reserve, or the size is more than half of the
// free space, the file is written as before.
void ReserveFileSpace(const boost::filesystem::path& file, std::int64_t size) noexcept;

// Gives back what a reservation of `size` bytes holds beyond the file's end (the file came
// out shorter than announced, or was cut short).
void ReleaseUnusedFileSpace(const boost::filesystem::path& file, std::int64_t size) noexcept;

}  // namespace hopwell
