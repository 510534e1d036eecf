#pragma once

#include <istream>

#include "net/PostBody.h"

namespace hopwell {

// `size` bytes read from a stream the caller owns. A stream that ends early yields what it
// had, then 0.
class StreamPostBody : public PostBody {
 public:
  StreamPostBody(std::istream& in, std::uint64_t size) : PostBody(size), in_(in) {}
  std::size_t Read(char* buffer, std::size_t capacity) override;

 private:
  std::istream& in_;
};

}  // namespace hopwell
