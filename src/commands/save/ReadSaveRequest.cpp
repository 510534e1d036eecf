#include <algorithm>
#include <fstream>
#include <iterator>

#include <boost/filesystem/operations.hpp>
#include <boost/lexical_cast/try_lexical_convert.hpp>
#include <pugixml.hpp>

#include "base/Logging.h"
#include "commands/save/SaveRequest.h"
#include "storage/KelvDB.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

LogSource& RequestLog() {
  static LogSource source;
  return source;
}

// The names of the scalar elements in the two formats.
struct ElementNames {
  const char* token;
  const char* appVersion;
  const char* comment;
  const char* commentOption;
  const char* pluginList;
};
constexpr ElementNames kCurrentNames{"Token", "AppVersion", "Comment", "CommentOption",
                                     "PlugInList"};
constexpr ElementNames kOlderNames{"token", "APPVERSION", "CU_CVC_TEXT", "CU_CVC_OPTIONS",
                                   "PLUGINLIST"};

std::string Text(const pugi::xml_node& root, const char* name) {
  return root.child(name).text().as_string();
}

// An optional sign and decimal digits, as boost::lexical_cast reads them.
bool ReadSize(const std::string& text, std::uint32_t& size) {
  return boost::conversion::try_lexical_convert(text, size);
}

// Appends the file unless its size is unreadable or it does not exist; false then.
bool AddFile(UploadArchive& archive, UploadFile file, const std::string& sizeText) {
  if (!ReadSize(sizeText, file.size)) {
    HW_LOG(RequestLog(), warning) << "  Invalid size \"" << sizeText << "\" of " << file.localPath;
    return false;
  }
  boost::system::error_code error;
  if (!fs::exists(fs::path(file.localPath), error)) {
    HW_LOG(RequestLog(), warning) << "  Listed file " << fs::path(file.localPath)
                                  << " does not exist";
    return false;
  }
  archive.files.push_back(std::move(file));
  return true;
}

bool ReadCurrentArchives(const pugi::xml_node& root, SaveRequest& request) {
  const pugi::xml_node list = root.child("UploadFilesList");
  if (!list) return true;
  for (const pugi::xpath_node& archiveNode : list.select_nodes("./Archive")) {
    UploadArchive& archive = request.archives.emplace_back();
    for (const pugi::xpath_node& fileNode : archiveNode.node().select_nodes("./File")) {
      const pugi::xml_node file = fileNode.node();
      UploadFile entry{file.attribute("Type").as_string(), file.attribute("Name").as_string(),
                       file.attribute("Path").as_string(), 0};
      if (!AddFile(archive, std::move(entry), file.attribute("Size").as_string())) return false;
    }
  }
  return true;
}

std::string Cell(KelvDB& table, const char* column, std::uint32_t row) {
  return table.getCell(table.getColumnIndex(column), row);
}

bool ReadOlderArchives(const pugi::xml_node& root, SaveRequest& request) {
  KelvDB archives;
  archives.loadFromString(Text(root, "CU_ARCHIVES"));
  if (!archives.isInitialized() || archives.getRowCount() <= 0) return true;
  const auto archiveCount = static_cast<std::uint32_t>(archives.getRowCount());
  for (std::uint32_t row = 0; row < archiveCount; ++row) {
    UploadArchive& archive = request.archives.emplace_back();
    KelvDB files;
    files.loadFromString(Cell(archives, "FILES", row));
    if (!files.isInitialized()) continue;
    const auto fileCount = static_cast<std::uint32_t>(std::max(files.getRowCount(), 0));
    for (std::uint32_t fileRow = 0; fileRow < fileCount; ++fileRow) {
      UploadFile entry{Cell(files, "type_key", fileRow), Cell(files, "ARCHIVEPATH", fileRow),
                       Cell(files, "FILEPATH", fileRow), 0};
      if (!AddFile(archive, std::move(entry), Cell(files, "size", fileRow))) return false;
    }
  }
  return true;
}

}  // namespace

bool ReadSaveRequest(const fs::path& path, SaveRequest& request, std::string* text) {
  request = SaveRequest{};
  std::ifstream in(path.string(), std::ios::binary);
  std::string read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad() || !ParseSaveRequest(read, request)) {
    HW_LOG(RequestLog(), warning) << "  Cannot read the save request " << path;
    return false;
  }
  if (text != nullptr) *text = std::move(read);
  return true;
}

bool ParseSaveRequest(const std::string& text, SaveRequest& request) {
  request = SaveRequest{};
  pugi::xml_document document;
  if (!document.load_buffer(text.data(), text.size())) return false;
  const pugi::xml_node root = document.document_element();
  request.isCurrentFormat = *root.attribute("version").as_string() != '\0';
  const ElementNames& names = request.isCurrentFormat ? kCurrentNames : kOlderNames;
  request.ids = Text(root, "IDS");
  request.tpvid = root.child("TPVID").text().as_int();
  request.commid = root.child("COMMID").text().as_int();
  request.token = Text(root, names.token);
  request.platformUrl = Text(root, "URL");
  request.appVersion = Text(root, names.appVersion);
  request.comment = Text(root, names.comment);
  request.commentOption = Text(root, names.commentOption);
  request.pluginList = Text(root, names.pluginList);
  if (request.isCurrentFormat) {
    request.workingFolderName = Text(root, "WorkingFolderName");
    return ReadCurrentArchives(root, request);
  }
  return ReadOlderArchives(root, request);
}

}  // namespace hopwell
