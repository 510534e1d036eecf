#pragma once

#include <boost/filesystem/path.hpp>

#include "net/PostBody.h"
#include "storage/FileOperations.h"

namespace hopwell {

// A file's contents; the size is taken from the file system when the body is made
// (0 when the file cannot be examined). The file is opened on the first Read.
class FilePostBody : public PostBody {
 public:
  explicit FilePostBody(const boost::filesystem::path& path);
  std::size_t Read(char* buffer, std::size_t capacity) override;

 private:
  boost::filesystem::path path_;
  FileHandle file_;
  bool openFailed_ = false;
};

}  // namespace hopwell
