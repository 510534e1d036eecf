#include "storage/LocalFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kBrandFolder = "Kelv";
const char* const kCannotUse = "Hopwell cannot use the folder %1%: %2%";
constexpr mode_t kPrivateFolderMode = 0700;

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
  return UserDataFolder();
}

fs::path UserDataFolder() {
  if (auto data = AbsoluteFromEnv("XDG_DATA_HOME")) return *data;
  return HomeFolder() / ".local" / "share";
}

fs::path SystemTempFolder() {
  if (auto tmp = AbsoluteFromEnv("TMPDIR")) return *tmp;
  if (auto cache = AbsoluteFromEnv("XDG_CACHE_HOME")) return *cache;
  return HomeFolder() / ".cache";
}

fs::path LongPathName(const fs::path& path) {
  return path;
}

fs::path TempRoot() {
  return LongPathName(SystemTempFolder() / kBrandFolder);
}

fs::path AppDataRoot() {
  return RoamingAppDataFolder() / kBrandFolder;
}

fs::path UploadFolder(const std::string& name, const std::string& key) {
  fs::path folder = TempRoot() / "upload";
  if (!key.empty() && !name.empty()) folder /= name;
  return folder;
}

fs::path TempSubfolder(const std::string& a, const std::string& b) {
  return TempRoot() / a / b;
}

std::optional<fs::path> SpaceFolder(const std::string& ids) {
  static const char* const kOwnFolders[] = {
      "upload",          "ESEF",
      "tagger",          "tagger.new",
      "tagger.old",      "tagger.lock",
      "tagger_download", "Hopwell",
      "plug-ins",        "plug-ins.THIS_FOLDER_IS_SAFE_TO_DELETE"};
  for (const char* own : kOwnFolders) {
    if (boost::algorithm::iequals(ids, own)) return std::nullopt;
  }
  return JoinChecked(TempRoot(), ids);
}

fs::path LogFolder() {
  fs::path folder = TempRoot() / "Hopwell";
  boost::system::error_code error;
  CreatePrivateFolders(folder, error);
  if (error) throw fs::filesystem_error("Cannot create the log folder", folder, error);
  return folder;
}

void CreatePrivateFolders(const fs::path& folder, boost::system::error_code& error) {
  error.clear();
  fs::path current;
  for (const fs::path& part : folder) {
    current /= part;
    if (::mkdir(current.c_str(), kPrivateFolderMode) == 0 || errno == EEXIST) continue;
    error.assign(errno, boost::system::system_category());
    return;
  }
  if (!fs::is_directory(folder, error) && !error) {
    error = boost::system::errc::make_error_code(boost::system::errc::not_a_directory);
  }
}

std::string PrepareOwnFolder(const fs::path& root, uid_t owner) {
  auto problem = [&root](const std::string& why) {
    return (boost::format(kCannotUse) % root % why).str();
  };
  struct stat link {};
  if (::lstat(root.c_str(), &link) != 0) {
    boost::system::error_code error;
    CreatePrivateFolders(root, error);
    return error ? problem(error.message()) : std::string();
  }
  // A link may be swapped by whoever owns it, and its target must be ours too.
  struct stat target {};
  if (link.st_uid != owner || ::stat(root.c_str(), &target) != 0 || target.st_uid != owner) {
    return problem("it belongs to another user");
  }
  if (!S_ISDIR(target.st_mode)) return problem("it is not a folder");
  if ((target.st_mode & 077) != 0 && ::chmod(root.c_str(), kPrivateFolderMode) != 0) {
    return problem(boost::system::error_code(errno, boost::system::system_category()).message());
  }
  return {};
}

std::string PrepareLocalFolders() {
  for (const fs::path& root : {TempRoot(), AppDataRoot()}) {
    if (std::string problem = PrepareOwnFolder(root, ::getuid()); !problem.empty()) return problem;
  }
  return {};
}

fs::path CurrentDocumentsDbPath() {
  static const std::string kName = "CurrentDocuments.cdb";
  return AppDataRoot() / kName;
}

fs::path EsefWorkFolder() {
  thread_local boost::uuids::random_generator generator;
  return TempRoot() / "ESEF" / boost::uuids::to_string(generator());
}

fs::path TaggerDownloadFolder() {
  return TempRoot() / "tagger_download";
}

fs::path TaggerFolder() {
  return TempRoot() / "tagger";
}

fs::path TaggerVendorFolder() {
  return RoamingAppDataFolder() / "AMANAConsulting";
}

}  // namespace hopwell
