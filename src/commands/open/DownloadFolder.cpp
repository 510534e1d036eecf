#include "commands/open/DownloadFolder.h"

#include <vector>

#include <boost/filesystem/operations.hpp>

#include "commands/open/OpenCmdParameters.h"
#include "storage/FileOperations.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"

namespace hopwell {

namespace fs = boost::filesystem;

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
