#include "commands/save/ListedFiles.h"

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "storage/LocalFolders.h"
#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// True when resolved lies below folder (resolved), compared component by component.
bool IsBelow(const fs::path& resolved, const fs::path& folder) {
  boost::system::error_code error;
  const fs::path base = fs::weakly_canonical(folder, error);
  if (error) return false;
  auto inner = resolved.begin();
  for (const fs::path& part : base) {
    if (part == ".") continue;  // a trailing separator
    if (inner == resolved.end() || *inner != part) return false;
    ++inner;
  }
  return inner != resolved.end() && *inner != ".";
}

}  // namespace

bool IsInsideFolder(const fs::path& path, const fs::path& folder) {
  boost::system::error_code error;
  const fs::path resolved = fs::weakly_canonical(path, error);
  return !error && IsBelow(resolved, folder);
}

bool EntryIsInsideFolder(const fs::path& path, const fs::path& folder) {
  const fs::path name = path.filename();
  if (name.empty() || name == "." || name == "..") return false;
  boost::system::error_code error;
  const fs::path parent = fs::weakly_canonical(path.parent_path(), error);
  return !error && IsBelow(parent / name, folder);
}

bool CheckListedFiles(const SaveRequest& request, JobStatus& job) {
  const fs::path root = TempRoot();
  for (const UploadArchive& archive : request.archives) {
    for (const UploadFile& file : archive.files) {
      const fs::path local(file.localPath);
      boost::system::error_code error;
      if (!fs::exists(local, error)) {
        job.JobFailed(boost::format("The file %s does not exist. Aborting save.") % local);
        return false;
      }
      if (!IsInsideFolder(local, root)) {
        job.JobFailed(boost::format("The file %1% is outside the folder %2%. Aborting save.") %
                      local % root);
        return false;
      }
      // Checked against a stand-in folder: the name must stay inside whatever it unpacks to.
      if (!JoinRelativeChecked("archive", file.name)) {
        job.JobFailed(
            boost::format("The archive entry name \"%1%\" of %2% is absolute or leaves its "
                          "folder. Aborting save.") %
            file.name % local);
        return false;
      }
    }
  }
  return true;
}

}  // namespace hopwell
