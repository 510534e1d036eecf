#include "commands/save/SaveCleanup.h"

#include <unistd.h>

#include <cerrno>

#include <boost/filesystem/operations.hpp>

#include "base/Logging.h"
#include "commands/save/ListedFiles.h"
#include "commands/save/SaveLeftovers.h"
#include "storage/DurableFile.h"
#include "storage/FileOperations.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

LogSource& CleanupLog() {
  static LogSource source;
  return source;
}

// Removes a single file (or an empty folder); a missing one is skipped silently.
void RemoveFile(const fs::path& path) {
  boost::system::error_code error;
  if (!fs::exists(fs::symlink_status(path, error))) return;
  HW_LOG(CleanupLog(), info) << "Deleting " << path;
  if (!fs::remove(path, error) && error) {
    HW_LOG(CleanupLog(), warning) << "Failed to remove " << path << ": " << error.message();
  }
}

}  // namespace

void DeleteListedFiles(const SaveRequest& request) {
  const fs::path root = TempRoot();
  for (const UploadArchive& archive : request.archives) {
    for (const UploadFile& file : archive.files) {
      const fs::path path(file.localPath);
      boost::system::error_code error;
      if (!fs::exists(fs::symlink_status(path, error))) continue;
      // Both the entry itself and, for a link, what it points to must be ours.
      if (!IsInsideFolder(path, root) || !EntryIsInsideFolder(path, root)) {
        HW_LOG(CleanupLog(), warning) << "Keeping " << path << ": it is outside " << root;
        continue;
      }
      RemoveFile(path);
    }
  }
}

void DeleteUploadedArchives(const SaveRequest& request) {
  for (const UploadArchive& archive : request.archives) {
    if (!archive.path.empty()) RemoveFile(archive.path);
  }
}

void RemoveWorkingFolder(const SaveRequest& request) {
  const std::string name =
      request.isCurrentFormat ? request.workingFolderName : std::to_string(request.tpvid);
  // Both names come from the request: an empty or unsafe one would reach past the chapter.
  const auto space = SpaceFolder(request.ids);
  const auto folder = space ? JoinChecked(*space, name) : std::nullopt;
  if (!folder) {
    HW_LOG(CleanupLog(), warning) << "Not removing the working folder \"" << request.ids
                                  << "\" / \"" << name << "\": not a folder name";
    return;
  }
  HW_LOG(CleanupLog(), info) << "Deleting " << *folder;
  boost::system::error_code error;
  // Never through a link: a space or working folder that is one refuses the removal, and a
  // link inside goes as a link, whatever it points to.
  if (!RemoveTreeWithoutLinks(TempRoot(), fs::path(request.ids) / name, error)) {
    HW_LOG(CleanupLog(), warning) << "Failed to remove directory " << *folder << ": "
                                  << error.message();
    return;
  }
  // Goes only when no other chapter of the space is left in it (rmdir never takes a link).
  if (::rmdir(space->c_str()) != 0) {
    error.assign(errno, boost::system::system_category());
    HW_LOG(CleanupLog(), info) << "Keeping directory " << *space << ": " << error.message();
  }
}

void CleanUpAfterSave(const SaveRequest& request) {
  // Recorded first and removed last: a clean-up cut short by a crash is finished by the
  // next start of the client or save of the document.
  const bool recorded = !request.checkinRecord.empty() && WriteCheckinRecord(request);
  DeleteListedFiles(request);
  RemoveWorkingFolder(request);
  if (!request.isCurrentFormat) RemoveRecordRows(request);
  DeleteUploadedArchives(request);
  boost::system::error_code error;
  if (recorded && !RemoveFileDurably(request.checkinRecord, error)) {
    HW_LOG(CleanupLog(), warning) << "Failed to remove " << request.checkinRecord << ": "
                                  << error.message();
  }
}

}  // namespace hopwell
