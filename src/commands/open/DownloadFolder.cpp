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
  const auto space = JoinChecked(TempRoot(), parameters.Ids());
  if (!space) return {};
  const auto chapter = JoinChecked(*space, parameters.Tpvid());
  if (!chapter) return {};
  fs::path folder = *chapter;
  if (fs::exists(folder)) {
    const fs::path aside = UniquePath(folder);
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
