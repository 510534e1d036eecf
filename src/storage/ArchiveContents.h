#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// One file entry of a zip archive's central directory.
struct ArchiveEntry {
  std::string name;  // as stored, folders separated by "/"
  std::uint64_t size = 0;
};

// The file entries of an archive (folder entries left out), in archive order; nothing when
// its central directory cannot be read. An archive without entries gives an empty list.
std::optional<std::vector<ArchiveEntry>> ReadArchiveEntries(const boost::filesystem::path& archive);

// Whether folder holds every file of the archive as an extraction with its folders kept
// leaves it: a regular file (not a link) of the entry's size at the entry's path. Empty when
// it does; otherwise the first entry that is missing, of another size or not a plain file;
// nothing when the archive cannot be read. Contents are not compared: a file of the right
// size is taken as written by the extraction, which checked its CRC.
std::optional<std::string> FirstEntryNotHeld(const boost::filesystem::path& archive,
                                             const boost::filesystem::path& folder);

}  // namespace hopwell
