#pragma once

#include <string_view>

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

namespace hopwell {

// How the client replaces a file it keeps across runs (its tables, the PluginConfig files,
// versions files, preferences and records): the new bytes are written to
// DurableTemporaryPath(path) beside it and synced, that file is renamed over path, and the
// folder is synced. A crash or a power cut at any moment leaves the old file or the new one,
// whole, never an empty or a half-written one.
//
// The temporary file is also the lock of its file: writers of the same file take turns on an
// flock of it (across threads and processes), so no writer removes another one's. What a
// killed write left under that name is taken over and replaced by the next write of the
// same file. Each function reports failure by its result and `error`; none throws.
[[nodiscard]] bool ReplaceFileDurably(const boost::filesystem::path& path, std::string_view bytes,
                                      boost::system::error_code& error);

// "<name>.hopwell.tmp" beside path.
boost::filesystem::path DurableTemporaryPath(const boost::filesystem::path& path);

// Syncs a folder, so that entries made, renamed or removed in it outlast a power cut.
[[nodiscard]] bool SyncFolder(const boost::filesystem::path& folder,
                              boost::system::error_code& error);

// Syncs every file and folder below folder, then folder itself: for a tree just unpacked,
// before a record names it. Links are not followed.
[[nodiscard]] bool SyncTree(const boost::filesystem::path& folder,
                            boost::system::error_code& error);

// Removes the file at path and syncs its folder, for a record whose removal must not come
// back after a power cut. A missing file counts as removed.
[[nodiscard]] bool RemoveFileDurably(const boost::filesystem::path& path,
                                     boost::system::error_code& error);

}  // namespace hopwell
