#include <sys/stat.h>

#include <cstdint>
#include <sstream>
#include <string>

#include <boost/filesystem/operations.hpp>
#include <pugixml.hpp>

#include "base/Logging.h"
#include "commands/save/ListedFiles.h"
#include "commands/save/SaveCleanup.h"
#include "commands/save/SaveLeftovers.h"
#include "storage/DurableFile.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

LogSource& RecordLog() {
  static LogSource source;
  return source;
}

// Size and modification time (nanoseconds) of a file as it is now; nothing when it is gone.
std::optional<std::pair<std::uint64_t, std::uint64_t>> Stamp(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
  return std::pair{static_cast<std::uint64_t>(status.st_size),
                   static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
                       static_cast<std::uint64_t>(status.st_mtim.tv_nsec)};
}

// Archives are ours: in the upload folder (or a document's folder in it), named "cgu_...".
bool IsOwnArchive(const fs::path& path) {
  const std::string name = path.filename().string();
  return name.starts_with("cgu_") && name.ends_with(".zip") &&
         EntryIsInsideFolder(path, UploadFolder("", ""));
}

}  // namespace

fs::path CheckinRecordPath(const std::string& documentId) {
  return JoinChecked(UploadFolder("", ""), "cgu_" + documentId + ".checkin").value_or(fs::path());
}

bool WriteCheckinRecord(const SaveRequest& request) {
  pugi::xml_document document;
  pugi::xml_node root = document.append_child("CheckedIn");
  root.append_attribute("format") = request.isCurrentFormat ? "current" : "older";
  root.append_attribute("ids") = request.ids.c_str();
  root.append_attribute("tpvid") = request.tpvid;
  root.append_attribute("workingFolder") = request.workingFolderName.c_str();
  for (const UploadArchive& archive : request.archives) {
    pugi::xml_node node = root.append_child("Archive");
    node.append_attribute("path") = archive.path.c_str();
    for (const UploadFile& file : archive.files) {
      pugi::xml_node entry = node.append_child("File");
      entry.append_attribute("path") = file.localPath.c_str();
      // A file already gone needs no stamp: nothing of it is left to remove.
      if (const auto stamp = Stamp(file.localPath)) {
        entry.append_attribute("size") = stamp->first;
        entry.append_attribute("modified") = stamp->second;
      }
    }
  }
  std::ostringstream text;
  document.save(text);
  boost::system::error_code error;
  if (!ReplaceFileDurably(request.checkinRecord, text.str(), error)) {
    HW_LOG(RecordLog(), warning) << "Failed to write " << request.checkinRecord << ": "
                                 << error.message();
    return false;
  }
  return true;
}

void DropCheckinRecord(const fs::path& record) {
  boost::system::error_code error;
  if (record.empty() || !fs::exists(record, error)) return;
  HW_LOG(RecordLog(), info) << "The files of " << record << " are saved again; dropping it";
  if (!RemoveFileDurably(record, error)) {
    HW_LOG(RecordLog(), warning) << "Failed to remove " << record << ": " << error.message();
  }
}

void FinishRecordedCleanUp(const fs::path& record) {
  boost::system::error_code error;
  if (record.empty() || !fs::exists(record, error)) return;
  HW_LOG(RecordLog(), info) << "Finishing the clean-up of an earlier save recorded in " << record;
  pugi::xml_document document;
  const pugi::xml_node root =
      document.load_file(record.c_str()) ? document.child("CheckedIn") : pugi::xml_node();
  SaveRequest request;
  bool changed = false;
  if (root) {
    request.isCurrentFormat = std::string(root.attribute("format").as_string()) == "current";
    request.ids = root.attribute("ids").as_string();
    request.tpvid = root.attribute("tpvid").as_int();
    request.workingFolderName = root.attribute("workingFolder").as_string();
    for (const pugi::xml_node& node : root.children("Archive")) {
      UploadArchive& archive = request.archives.emplace_back();
      if (const fs::path path = node.attribute("path").as_string(); IsOwnArchive(path)) {
        archive.path = path;
      }
      for (const pugi::xml_node& entry : node.children("File")) {
        const std::string path = entry.attribute("path").as_string();
        const auto now = Stamp(path);
        if (!now) continue;
        if (now->first != entry.attribute("size").as_ullong(~0ull) ||
            now->second != entry.attribute("modified").as_ullong(~0ull)) {
          HW_LOG(RecordLog(), info) << "Keeping " << path << ": it changed after its check-in";
          changed = true;
          continue;
        }
        archive.files.push_back({"", "", path, 0});
      }
    }
  } else {
    HW_LOG(RecordLog(), warning) << record << " is unreadable; removing only it";
  }
  DeleteListedFiles(request);
  // A chapter whose files changed since is in use again (opened anew, say): its folder and
  // its record rows belong to that use now.
  if (root && !changed) {
    RemoveWorkingFolder(request);
    if (!request.isCurrentFormat) RemoveRecordRows(request);
  }
  DeleteUploadedArchives(request);
  if (!RemoveFileDurably(record, error)) {
    HW_LOG(RecordLog(), warning) << "Failed to remove " << record << ": " << error.message();
  }
}

}  // namespace hopwell
