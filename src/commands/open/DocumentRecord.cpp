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
  // Failures to write the file are not reported: the plug-in finds no record and says so.
  std::ofstream out((documentPath.parent_path() / kRecordFileName).string(),
                    std::ios::binary | std::ios::trunc);
  out << DocumentRecordXml(command, parameters, documentPath);
  return true;
}

// The table loaded from path with the later columns added, or a fresh one.
KelvDB LoadOrCreateTable(CommandContext& command, const fs::path& path, bool& ok) {
  ok = true;
  KelvDB table;
  boost::system::error_code error;
  if (fs::exists(path, error)) {
    if (table.load(path)) {
      for (std::size_t column = kFirstLaterColumn; column < kColumns.size(); ++column) {
        if (table.getColumnIndex(kColumns[column]) == KelvDB::kNoColumn) {
          table.addColumn(kColumns[column]);
        }
      }
      return table;
    }
    // An unreadable table is discarded with its rows and started afresh.
    fs::remove(path, error);
    if (error) {
      HW_LOG(command.log, warning) << "    Error when removing " << path << ": " << error.message();
      ok = false;
      return table;
    }
  }
  table = KelvDB();
  table.create(static_cast<std::uint32_t>(kColumns.size()), 0);
  for (std::size_t column = 0; column < kColumns.size(); ++column) {
    table.setColumnName(static_cast<std::uint32_t>(column), kColumns[column]);
  }
  table.setMode("normal");
  if (table.isInitialized()) table.setName(kTableName);
  return table;
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
  // Saved through a temporary file renamed over the table, so readers never see half of it.
  table.save(path);
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
