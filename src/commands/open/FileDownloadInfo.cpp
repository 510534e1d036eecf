#include "commands/open/FileDownloadInfo.h"

#include <boost/property_tree/ptree.hpp>

#include "intake/XmlCmdParametersBase.h"

namespace hopwell {

namespace pt = boost::property_tree;

std::vector<FileDownloadInfoPtr> GetFiles(const XmlCmdParametersBase& parameters, LogSource& log) {
  std::vector<FileDownloadInfoPtr> files;
  if (!parameters.IsInitialized()) {
    HW_LOG(log, warning) << "Not initialized";
    return files;
  }
  const pt::ptree* list = nullptr;
  try {
    list = &parameters.Tree().get_child("data.files");
  } catch (const pt::ptree_error& error) {
    HW_LOG(log, warning) << "Error when getting data.files from params: " << error.what();
    return files;
  }
  for (const auto& [element, entry] : *list) {
    // Comments and the list's own attributes are not files.
    if (element == "<xmlcomment>" || element == "<xmlattr>") continue;
    try {
      auto info = std::make_shared<FileDownloadInfo>();
      info->url = entry.get<std::string>("url");
      info->name = entry.get<std::string>("name");
      // The tree's own conversions: "1"/"0" first, then "true"/"false"; a whole decimal
      // number with white space around it for the size. Anything else is the default.
      info->decompress = entry.get_optional<bool>("decompress").value_or(false);
      info->size = entry.get_optional<std::int32_t>("size").value_or(0);
      files.push_back(std::move(info));
    } catch (const pt::ptree_error& error) {
      HW_LOG(log, warning) << "Error when getting file info from params: " << error.what();
    }
  }
  return files;
}

}  // namespace hopwell
