#include "commands/open/DocumentRecord.h"

#include <array>
#include <ctime>
#include <fstream>
#include <sstream>
#include <utility>

#include <boost/filesystem/operations.hpp>
#include <pugixml.hpp>

#include "commands/open/FileNames.h"
#include "commands/open/OpenCmdParameters.h"
#include "storage/DocumentTableLock.h"
#include "storage/FileOperations.h"
#include "storage/KelvDB.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr char kRecordFileName[] = "CurrentDocumentDB.xml";
constexpr char kTableName[] = "CurrentDocuments";
constexpr char kMetaInfoFailed[] = "An error occured when saving document meta information.";

// The columns of "CurrentDocuments.cdb" in file order.
constexpr std::array<const char*, 16> kColumns = {"Opened",
                                                  "personID",
                                                  "jumplocation",
                                                  "ssl",
                                                  "IDS",
                                                  "MEDID",
                                                  "userright",
                                                  "TPVID",
                                                  "OLDTPVID",
                                                  "kelvversion",
                                                  "savefilename",
                                                  "documentversion",
                                                  "acceptallchanges",
                                                  "metainfo",
                                                  "extension",
                                                  "token"};
// Columns that tables written by older clients may lack; appended in this order.
constexpr std::size_t kFirstLaterColumn = 11;

std::string UserRight(OpenCmdParameters& parameters) {
  return AppCmdParameters::UserRightToString(parameters.GetUserRight());
}

bool WriteXmlRecord(CommandContext& command, OpenCmdParameters& parameters,
                    const fs::path& documentPath) {
  // The document's folder is the chapter's own, built by the checked join.
  const fs::path path = documentPath.parent_path() / kRecordFileName;
  std::ofstream out(path.string(), std::ios::binary | std::ios::trunc);
  out << DocumentRecordXml(command, parameters, documentPath);
  out.close();
  // Without the record the plug-in cannot save the chapter back: the open has failed.
  if (!out) {
    HW_LOG(command.log, warning) << "    Error when writing " << path;
    command.job.JobFailed(kMetaInfoFailed);
    return false;
  }
  return true;
}

// A fresh table with the 16 columns and no rows.
KelvDB NewTable() {
  KelvDB table;
  table.create(static_cast<std::uint32_t>(kColumns.size()), 0);
  for (std::size_t column = 0; column < kColumns.size(); ++column) {
    table.setColumnName(static_cast<std::uint32_t>(column), kColumns[column]);
  }
  table.setMode("normal");
  if (table.isInitialized()) table.setName(kTableName);
  return table;
}

// The table loaded from path with the later columns added, or a fresh one. A table that
// cannot be looked at or read whole is left as it is (ok false): its rows may all be good.
// Only one that was read and does not parse is replaced, its bytes kept beside it as
// "<name>.unreadable" (the copy of an earlier failure is replaced).
KelvDB LoadOrCreateTable(CommandContext& command, const fs::path& path, bool& ok) {
  ok = false;
  KelvDB table;
  boost::system::error_code error;
  const bool exists = PathExists(path, error);
  if (error) {
    HW_LOG(command.log, warning) << "    Cannot tell whether " << path
                                 << " exists: " << error.message();
    return table;
  }
  if (exists) {
    if (table.load(path)) {
      for (std::size_t column = kFirstLaterColumn; column < kColumns.size(); ++column) {
        if (table.getColumnIndex(kColumns[column]) == KelvDB::kNoColumn) {
          table.addColumn(kColumns[column]);
        }
      }
      ok = true;
      return table;
    }
    if (table.readFailed()) {
      HW_LOG(command.log, warning) << "    Cannot read " << path << ": " << table.getLastError();
      return table;
    }
    fs::path kept = path;
    kept += ".unreadable";
    HW_LOG(command.log, warning) << "    " << path << " is no KelvDB table ("
                                 << table.getLastError() << "); keeping it as " << kept;
    fs::rename(path, kept, error);
    if (error) {
      HW_LOG(command.log, warning) << "    Error when renaming " << path << ": " << error.message();
      return table;
    }
  }
  ok = true;
  return NewTable();
}

bool AddTableRecord(CommandContext& command, OpenCmdParameters& parameters,
                    const fs::path& documentPath) {
  const fs::path path = CurrentDocumentsDbPath();
  // Other opens and the save's clean-up change the same file: read, change and write it
  // back as one step.
  DocumentTableLock lock(path);
  bool ok = true;
  KelvDB table = LoadOrCreateTable(command, path, ok);
  if (!ok) {
    command.job.JobFailed(kMetaInfoFailed);
    return false;
  }
  const std::int32_t before = std::max(table.getRowCount(), 0);
  if (!table.addEmptyRow()) {
    command.job.JobFailed(kMetaInfoFailed);
    return false;
  }
  const auto row = static_cast<std::uint32_t>(table.getRowCount() - 1);
  const std::string jumpLocation = parameters.JumpLocation();
  const std::array<std::string, 16> values = {
      std::to_string(static_cast<long long>(std::time(nullptr))),
      parameters.PersonId(),
      jumpLocation,
      jumpLocation.find("https://") != std::string::npos ? "1" : "0",
      parameters.Ids(),
      parameters.MedId(),
      UserRight(parameters),
      parameters.Tpvid(),
      parameters.OldTpvid(),
      parameters.KelvVersion(),
      MakeSaveFileName(parameters, documentPath),
      parameters.DocumentVersion(),
      "0",
      "",
      "",
      command.token};
  for (std::size_t column = 0; column < kColumns.size(); ++column) {
    if (!table.setCellByName(kColumns[column], row, values[column])) {
      HW_LOG(command.log, warning) << "    Error when saving CurrentDocuments.cdb:\n"
                                   << table.getLastError();
      command.job.JobFailed(kMetaInfoFailed);
      return false;
    }
  }
  if (table.getRowCount() != before + 1) {
    HW_LOG(command.log, warning) << "    The document meta information was not saved correctly:\n"
                                 << table.getLastError();
    command.job.JobFailed("The document meta information was not saved correctly.");
    return false;
  }
  // Saved through a temporary file renamed over the table, so readers never see half of it
  // and a failed write leaves the earlier rows as they were.
  if (!table.save(path)) {
    HW_LOG(command.log, warning) << "    Error when saving " << path;
    command.job.JobFailed(kMetaInfoFailed);
    return false;
  }
  return true;
}

}  // namespace

std::string DocumentRecordXml(CommandContext& command, OpenCmdParameters& parameters,
                              const fs::path& documentPath) {
  pugi::xml_document document;
  document.load_string("<root version=\"1.0\"></root>");
  pugi::xml_node root = document.child("root");
  const std::pair<const char*, std::string> elements[] = {
      {"PersonID", parameters.PersonId()},
      {"JumpLocation", parameters.JumpLocation()},
      {"IDS", parameters.Ids()},
      {"MEDID", parameters.MedId()},
      {"UserRight", UserRight(parameters)},
      {"TPVID", parameters.Tpvid()},
      {"OLDTPVID", parameters.OldTpvid()},
      {"KelvVersion", parameters.KelvVersion()},
      {"SaveFileName", MakeSaveFileName(parameters, documentPath)},
      {"DocumentVersion", parameters.DocumentVersion()},
      {"Token", command.token},
      {"DocumentInDesignVersionNumberOnServer", parameters.AppVersion()},
      {"DocumentInDesignVersionOnServer", parameters.AppVersionString()},
      {"DocumentInDesignApplicationNameOnServer", parameters.AppName()},
  };
  for (const auto& [name, text] : elements) {
    root.append_child(name).append_child(pugi::node_pcdata).set_value(text.c_str());
  }
  std::ostringstream out;
  document.save(out);
  return out.str();
}

bool RecordDocument(CommandContext& command, OpenCmdParameters& parameters,
                    const fs::path& documentPath) {
  if (parameters.IsRecentApplication()) return WriteXmlRecord(command, parameters, documentPath);
  return AddTableRecord(command, parameters, documentPath);
}

}  // namespace hopwell
