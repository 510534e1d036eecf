#include "storage/LocalFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include <boost/filesystem/operations.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kBrandFolder = "Kelv";

// An environment value that names an absolute folder; relative values are ignored, as the
// XDG base-directory rules ask.
std::optional<fs::path> AbsoluteFromEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  fs::path path(value);
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

fs::path HomeFolder() {
  if (auto home = AbsoluteFromEnv("HOME")) return *home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    fs::path path(entry->pw_dir);
    if (path.is_absolute()) return path;
  }
  // No usable home: a per-user folder under the system's temporary directory.
  return fs::path("/tmp") / ("hopwell-" + std::to_string(::getuid()));
}

}  // namespace

fs::path RoamingAppDataFolder() {
  if (auto appdata = AbsoluteFromEnv("APPDATA")) return *appdata;
  if (auto data = AbsoluteFromEnv("XDG_DATA_HOME")) return *data;
  return HomeFolder() / ".local" / "share";
}

fs::path SystemTempFolder() {
  if (auto tmp = AbsoluteFromEnv("TMPDIR")) return *tmp;
  if (auto cache = AbsoluteFromEnv("XDG_CACHE_HOME")) return *cache;
  return HomeFolder() / ".cache";
}

fs::path LongPathName(const fs::path& path) { return path; }

fs::path TempRoot() { return LongPathName(SystemTempFolder() / kBrandFolder); }

fs::path AppDataRoot() { return RoamingAppDataFolder() / kBrandFolder; }

fs::path UploadFolder(const std::string& name, const std::string& key) {
  fs::path folder = TempRoot() / "upload";
  if (!key.empty() && !name.empty()) folder /= name;
  return folder;
}

fs::path TempSubfolder(const std::string& a, const std::string& b) { return TempRoot() / a / b; }

fs::path LogFolder() {
  fs::path folder = TempRoot() / "Hopwell";
  fs::create_directories(folder);
  return folder;
}

fs::path CurrentDocumentsDbPath() {
  static const std::string kName = "CurrentDocuments.cdb";
  return AppDataRoot() / kName;
}

fs::path EsefWorkFolder() {
  thread_local boost::uuids::random_generator generator;
  return TempRoot() / "ESEF" / boost::uuids::to_string(generator());
}

fs::path TaggerDownloadFolder() { return TempRoot() / "tagger_download"; }

fs::path TaggerFolder() { return TempRoot() / "tagger"; }

fs::path TaggerVendorFolder() { return RoamingAppDataFolder() / "AMANAConsulting"; }

}  // namespace hopwell
