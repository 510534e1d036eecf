#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

namespace hopwell {

// The client's folder layout. Every function builds its path afresh on each call, so
// changes of the environment (tests) take effect at once.

// The user's roaming application-data folder: $APPDATA, else UserDataFolder(). Always
// absolute.
boost::filesystem::path RoamingAppDataFolder();

// The user's XDG data folder: $XDG_DATA_HOME, else ~/.local/share. Always absolute.
boost::filesystem::path UserDataFolder();

// The per-user temporary directory: $TMPDIR, else $XDG_CACHE_HOME, else ~/.cache.
boost::filesystem::path SystemTempFolder();

boost::filesystem::path TempRoot();
boost::filesystem::path AppDataRoot();
boost::filesystem::path UploadFolder(const std::string& name, const std::string& key);
boost::filesystem::path TempSubfolder(const std::string& a, const std::string& b);
// TempRoot / ids: the folder of one platform space's chapters ("IDS"). Nothing when ids is
// not a single safe name, or names one of the client's own folders there ("upload", "ESEF",
// the tagger's, its staging folders and lock, the log folder, the former plug-in folders)
// in any letter case: a chapter must never be downloaded into them, nor a save's clean-up
// remove them.
std::optional<boost::filesystem::path> SpaceFolder(const std::string& ids);
// Creates the folder with all missing parents (for the user alone); throws
// boost::filesystem::filesystem_error when that fails.
boost::filesystem::path LogFolder();
boost::filesystem::path CurrentDocumentsDbPath();
boost::filesystem::path EsefWorkFolder();
boost::filesystem::path TaggerDownloadFolder();
boost::filesystem::path TaggerFolder();
boost::filesystem::path TaggerVendorFolder();

// There are no short names on this platform: the path is already in long form.
boost::filesystem::path LongPathName(const boost::filesystem::path& path);

// Creates the folder and its missing parents with mode 0700. A folder that exists (also one
// made meanwhile by another thread) is left as it is; `error` tells why one could not be made.
void CreatePrivateFolders(const boost::filesystem::path& folder, boost::system::error_code& error);

// Makes `root` ready to hold the client's files for the user `owner` alone: a missing folder
// is created (0700, with its parents), one of the user's own is narrowed to 0700. Empty when
// it can be used, else the message that says why not (not a folder, cannot be created, or it
// belongs to another user, as a shared TMPDIR may).
std::string PrepareOwnFolder(const boost::filesystem::path& root, uid_t owner);

// PrepareOwnFolder of TempRoot and AppDataRoot for the current user; the first message.
std::string PrepareLocalFolders();

}  // namespace hopwell
