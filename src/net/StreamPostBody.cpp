#include "net/StreamPostBody.h"

#include <algorithm>

namespace hopwell {

std::size_t StreamPostBody::Read(char* buffer, std::size_t capacity) {
  if (delivered_ >= size_ || capacity == 0) return 0;
  const auto wanted =
      static_cast<std::streamsize>(std::min<std::uint64_t>(capacity, size_ - delivered_));
  in_.read(buffer, wanted);
  const auto got = static_cast<std::size_t>(std::max<std::streamsize>(in_.gcount(), 0));
  if (got == 0) return 0;
  Advance(got);
  return got;
}

}  // namespace hopwell
