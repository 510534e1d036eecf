#include <boost/filesystem/operations.hpp>

#include "base/Logging.h"
#include "commands/save/SaveCleanup.h"
#include "storage/DocumentTableLock.h"
#include "storage/KelvDB.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

LogSource& RecordLog() {
  static LogSource source;
  return source;
}

}  // namespace

void RemoveRecordRows(const SaveRequest& request) {
  const fs::path path = CurrentDocumentsDbPath();
  // The open command records documents in the same table: one reads, changes and writes it
  // back at a time.
  DocumentTableLock lock(path);
  boost::system::error_code error;
  if (!fs::exists(path, error)) {
    HW_LOG(RecordLog(), info) << path << " does not exist";
    return;
  }
  KelvDB table;
  if (!table.load(path)) {
    HW_LOG(RecordLog(), warning) << "Failed to init " << path;
    return;
  }
  const std::uint32_t idsColumn = table.getColumnIndex("ids");
  const std::uint32_t tpvidColumn = table.getColumnIndex("tpvid");
  if (idsColumn == KelvDB::kNoColumn || tpvidColumn == KelvDB::kNoColumn) return;
  const std::string tpvid = std::to_string(request.tpvid);
  bool removed = false;
  // Backwards, so deleting a row leaves the indexes still to visit as they were.
  for (std::int32_t row = table.getRowCount() - 1; row >= 0; --row) {
    const auto index = static_cast<std::uint32_t>(row);
    if (table.getCell(idsColumn, index) == request.ids &&
        table.getCell(tpvidColumn, index) == tpvid) {
      HW_LOG(RecordLog(), info) << "Removing row " << row << " from " << path;
      table.deleteRow(index);
      removed = true;
    }
  }
  if (!removed) return;
  if (table.isInitialized() && table.getRowCount() > 0) {
    HW_LOG(RecordLog(), info) << "Saving " << path;
    if (!table.save(path)) {
      HW_LOG(RecordLog(), warning) << "Failed to save " << path << ": " << table.getLastError();
    }
    return;
  }
  HW_LOG(RecordLog(), info) << "Deleting " << path;
  if (!fs::remove(path, error) && error) {
    HW_LOG(RecordLog(), warning) << "Failed to remove " << path << ": " << error.message();
  }
}

}  // namespace hopwell
