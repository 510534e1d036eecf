#include "commands/save/SaveRequest.h"

namespace hopwell {

std::string UploadedDocumentName(const SaveRequest& request) {
  std::string name;
  for (const UploadArchive& archive : request.archives) {
    for (const UploadFile& file : archive.files) {
      if (file.type != "PDF" && file.type != "INDD") continue;
      name = boost::filesystem::path(file.localPath).stem().string();
      // The document itself names the upload; a PDF of the same archive does not override it.
      if (file.type == "INDD") break;
    }
  }
  return name;
}

}  // namespace hopwell
