#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "base/Logging.h"
#include "commands/open/FileDownloadInfo.h"
#include "commands/open/OpenCmdParameters.h"

namespace hopwell {

// The report's download parameters as the server answers them: the addresses of the lock
// and files-downloaded requests, the tagger package and the report's file list.
class EsefCmdDownloadParameters {
 public:
  // Reads the whole stream; a body that is not a parameter document gives empty values.
  explicit EsefCmdDownloadParameters(std::istream& in);

  std::string LockUrl() { return document_.GetValue("lockurl"); }
  std::string FilesDownloadedUrl() { return document_.GetValue("filesdownloadedurl"); }
  std::string TaggerUrl() { return document_.GetValue("taggerurl"); }
  std::string TaggerVersion() { return document_.GetValue("taggerversion"); }
  // The package's size in bytes; -1 when absent.
  int TaggerSize() { return document_.GetInt("taggersize"); }
  // The report's files, in document order.
  std::vector<FileDownloadInfoPtr> Files() { return GetFiles(document_, log_); }

 private:
  LogSource log_;
  OpenCmdParameters document_;
};

}  // namespace hopwell
