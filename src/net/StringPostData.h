#pragma once

#include <string>

#include "net/PostBody.h"

namespace hopwell {

// A body read from a string the caller owns; the string must outlive the body.
class StringPostData : public PostBody {
 public:
  explicit StringPostData(const std::string& data) : PostBody(data.size()), data_(data) {}
  std::size_t Read(char* buffer, std::size_t capacity) override;

 private:
  const std::string& data_;
  std::size_t position_ = 0;
};

}  // namespace hopwell
