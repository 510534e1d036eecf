#include "commands/open/DownloadFolder.h"

#include <set>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "base/Logging.h"
#include "commands/open/FileDownloadInfo.h"
#include "commands/open/OpenCmdParameters.h"
#include "storage/FileOperations.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"

namespace hopwell {

namespace fs = boost::filesystem;

namespace {

LogSource& FolderLog() {
  static LogSource source;
  return source;
}

// Removes the "<name>.part" files an open cut short left in an earlier download's folder:
// they are no file of the chapter and would stay for ever beside its files. A file the
// chapter itself lists under such a name stays.
void RemovePartialDownloads(const fs::path& folder, OpenCmdParameters& parameters) {
  std::set<std::string> listed;
  for (const FileDownloadInfoPtr& file : GetFiles(parameters, FolderLog())) {
    listed.insert(file->name);
  }
  boost::system::error_code error;
  for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    boost::system::error_code fileError;
    if (!name.ends_with(".part") || listed.count(name) != 0 ||
        !fs::is_regular_file(it->symlink_status(fileError))) {
      continue;
    }
    HW_LOG(FolderLog(), info) << "Deleting " << it->path() << ", left by an earlier download";
    if (!fs::remove(it->path(), fileError) && fileError) {
      HW_LOG(FolderLog(), warning)
          << "Failed to remove " << it->path() << ": " << fileError.message();
    }
  }
}

}  // namespace

fs::path GetDownloadFolder(OpenCmdParameters& parameters) {
  const auto space = SpaceFolder(parameters.Ids());
  if (!space) return {};
  const auto chapter = JoinChecked(*space, parameters.Tpvid());
  if (!chapter) return {};
  fs::path folder = *chapter;
  // The throwing forms: a folder that cannot be looked at is an error, never "free", so an
  // earlier download is never written over.
  if (fs::exists(folder)) {
    boost::system::error_code error;
    const fs::path aside = UniquePath(folder, error);
    if (error) throw fs::filesystem_error("Cannot find a free folder beside", folder, error);
    RemovePartialDownloads(folder, parameters);
    if (parameters.IsRecentApplication()) {
      folder = aside;
    } else {
      fs::create_directories(aside);
      std::vector<fs::path> names;
      for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
      }
      // Directory entries are single names of our own folder.
      for (const auto& name : names) fs::rename(folder / name, aside / name);
    }
  }
  fs::create_directories(folder);
  return folder;
}

}  // namespace hopwell
