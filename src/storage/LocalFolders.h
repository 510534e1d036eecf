#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// The client's folder layout. Every function builds its path afresh on each call, so
// changes of the environment (tests) take effect at once.

// The user's roaming application-data folder: $APPDATA, else $XDG_DATA_HOME, else
// ~/.local/share. Always absolute.
boost::filesystem::path RoamingAppDataFolder();

// The per-user temporary directory: $TMPDIR, else $XDG_CACHE_HOME, else ~/.cache.
boost::filesystem::path SystemTempFolder();

boost::filesystem::path TempRoot();
boost::filesystem::path AppDataRoot();
boost::filesystem::path UploadFolder(const std::string& name, const std::string& key);
boost::filesystem::path TempSubfolder(const std::string& a, const std::string& b);
// Creates the folder with all missing parents; throws boost::filesystem::filesystem_error
// when that fails.
boost::filesystem::path LogFolder();
boost::filesystem::path CurrentDocumentsDbPath();
boost::filesystem::path EsefWorkFolder();
boost::filesystem::path TaggerDownloadFolder();
boost::filesystem::path TaggerFolder();
boost::filesystem::path TaggerVendorFolder();

// There are no short names on this platform: the path is already in long form.
boost::filesystem::path LongPathName(const boost::filesystem::path& path);

}  // namespace hopwell
