#include "net/StringPostData.h"

#include <algorithm>
#include <cstring>

namespace hopwell {

std::size_t StringPostData::Read(char* buffer, std::size_t capacity) {
  const std::size_t n = std::min(capacity, data_.size() - position_);
  if (n == 0) return 0;
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  Advance(n);
  return n;
}

}  // namespace hopwell
