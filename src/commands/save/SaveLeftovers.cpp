#include "commands/save/SaveLeftovers.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "base/Logging.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"
#include "storage/TurnLock.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

LogSource& LeftoverLog() {
  static LogSource source;
  return source;
}

constexpr std::string_view kRecordSuffix = ".checkin";

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  boost::system::error_code error;
  for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

// A save request of the document in the upload folder or in its own folder there.
bool RequestWaits(const std::string& documentId) {
  const std::string name = "cgu_" + documentId + ".xml";
  const fs::path folder = UploadFolder("", "");
  const auto own = JoinChecked(folder, documentId);
  boost::system::error_code error;
  return fs::exists(folder / name, error) || (own && fs::exists(*own / name, error));
}

}  // namespace

fs::path SaveLockPath(const std::string& documentId) {
  return JoinChecked(UploadFolder("", ""), "cgu_" + documentId + ".lock").value_or(fs::path());
}

void FinishInterruptedSaves() {
  for (const std::string& name : Names(UploadFolder("", ""))) {
    if (!name.starts_with("cgu_") || !name.ends_with(kRecordSuffix)) continue;
    const std::string id = name.substr(4, name.size() - 4 - kRecordSuffix.size());
    // A save of the document running now (in another client process), or one its request
    // is waiting for, deals with it itself.
    const TurnLock turn(SaveLockPath(id), false);
    if (turn.Held() && !RequestWaits(id)) FinishRecordedCleanUp(CheckinRecordPath(id));
  }
}

void RemoveEarlierArchives(const fs::path& folder, const std::string& documentId) {
  const std::string prefix = "cgu_" + documentId + "_";
  for (const std::string& name : Names(folder)) {
    // Exactly the names NextArchiveName gives this document: "cgu_<id>_<n>.zip".
    if (!name.starts_with(prefix) || !name.ends_with(".zip") ||
        !AllDigits(std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - 4))) {
      continue;
    }
    HW_LOG(LeftoverLog(), info) << "Deleting " << folder / name << ", left by an earlier save";
    boost::system::error_code error;
    if (!fs::remove(folder / name, error) && error) {
      HW_LOG(LeftoverLog(), warning)
          << "Failed to remove " << folder / name << ": " << error.message();
    }
  }
}

}  // namespace hopwell
