#include <sstream>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "commands/save/SaveRequest.h"

namespace hopwell {
namespace {

using boost::property_tree::ptree;

// Members keep their order; push_back also keeps dots in names from meaning paths.
void AddMember(ptree& object, const char* name, const std::string& value) {
  object.push_back({name, ptree(value)});
}

ptree FileObject(const UploadFile& file) {
  ptree object;
  AddMember(object, "typeKey", file.type);
  AddMember(object, "archivepath", file.name);
  AddMember(object, "size", std::to_string(file.size));
  return object;
}

ptree ArchiveObject(const UploadArchive& archive) {
  ptree object;
  AddMember(object, "name", archive.name);
  AddMember(object, "size", std::to_string(archive.size));
  AddMember(object, "crc32", archive.crc32);
  // Without files the node stays empty, which the writer prints as an empty text.
  ptree files;
  for (const UploadFile& file : archive.files) files.push_back({"", FileObject(file)});
  object.push_back({"files", files});
  return object;
}

}  // namespace

std::string MakeCheckinJson(const SaveRequest& request) {
  ptree root;
  ptree archives;
  for (const UploadArchive& archive : request.archives) {
    archives.push_back({"", ArchiveObject(archive)});
  }
  root.push_back({"archives", archives});
  AddMember(root, "pluginlist", request.pluginList);
  AddMember(root, "appversion", request.appVersion);
  AddMember(root, "chapterVersionComment", request.comment);
  AddMember(root, "chapterVersionCommentOptions", request.commentOption);
  std::ostringstream text;
  boost::property_tree::write_json(text, root, true);
  return text.str();
}

}  // namespace hopwell
