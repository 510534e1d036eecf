#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// One file of an archive, as the plug-in lists it.
struct UploadFile {
  std::string type;       // e.g. "INDD", "PDF"
  std::string name;       // entry name inside the archive
  std::string localPath;  // where the file is on disk (UTF-8)
  std::uint32_t size = 0;
};

// One archive of a save. A request sets only the files; the save command fills in the
// rest from the archive it built.
struct UploadArchive {
  std::string name;
  boost::filesystem::path path;
  std::uint64_t size = 0;
  std::string crc32;
  std::vector<UploadFile> files;
};

// The save request the plug-in writes into the upload folder, in either of its two formats.
struct SaveRequest {
  bool isCurrentFormat = false;
  std::string ids;
  std::int32_t tpvid = 0;
  std::int32_t commid = 0;
  std::string token;
  std::string platformUrl;
  std::string appVersion;
  std::string comment;
  std::string commentOption;
  std::string pluginList;
  std::string workingFolderName;  // current format only
  std::vector<UploadArchive> archives;
  // Set by the save command: where the record of a confirmed check-in is kept until its
  // clean-up is done (empty: no record).
  boost::filesystem::path checkinRecord;
};

// Fills request from the document at path (and text, when given, with the document's bytes).
// False when the file cannot be read as XML, when a listed file does not exist, or when a
// size is not a number.
[[nodiscard]] bool ReadSaveRequest(const boost::filesystem::path& path, SaveRequest& request,
                                   std::string* text = nullptr);
// The same from the document's bytes, without a log line of its own.
[[nodiscard]] bool ParseSaveRequest(const std::string& text, SaveRequest& request);

// The stem of the last "PDF" file, or of the first "INDD" file of an archive when it comes
// later; empty when the request lists neither.
std::string UploadedDocumentName(const SaveRequest& request);

// The check-in document: Boost.PropertyTree's indented JSON, every value a string.
std::string MakeCheckinJson(const SaveRequest& request);

}  // namespace hopwell
