#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Logging.h"

namespace hopwell {

class XmlCmdParametersBase;

// One file of a parameter document's file list ("data.files"). The name comes from the
// server: it must go through the checked join before it touches the disk.
struct FileDownloadInfo {
  std::string url;
  std::string name;
  bool decompress = false;  // a zip archive to unpack after download
  std::int32_t size = 0;    // announced size; above 0 the download reports progress
};

using FileDownloadInfoPtr = std::shared_ptr<FileDownloadInfo>;

// The files listed under "data.files", in document order. Entries without "url" or "name"
// are logged and skipped; "decompress" and "size" fall back to false and 0. Never throws.
std::vector<FileDownloadInfoPtr> GetFiles(const XmlCmdParametersBase& parameters, LogSource& log);

}  // namespace hopwell
