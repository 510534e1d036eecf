#include "net/FilePostBody.h"

#include <cstdio>

#include <boost/filesystem/operations.hpp>

namespace hopwell {

FilePostBody::FilePostBody(const boost::filesystem::path& path) : PostBody(0), path_(path) {
  boost::system::error_code error;
  const std::uintmax_t size = boost::filesystem::file_size(path, error);
  if (!error) size_ = size;
}

std::size_t FilePostBody::Read(char* buffer, std::size_t capacity) {
  if (openFailed_) return 0;
  if (!file_) {
    file_ = OpenFile(path_, "rb");
    if (!file_) {
      openFailed_ = true;
      HW_LOG(log_, error) << "Failed to open " << path_ << " for reading";
      return 0;
    }
  }
  const std::size_t n = std::fread(buffer, 1, capacity, file_.get());
  if (n == 0) return 0;
  Advance(n);
  return n;
}

}  // namespace hopwell
