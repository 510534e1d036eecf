#pragma once

#include <cstddef>
#include <cstdint>

namespace hopwell {

// What the transfer reads a request body from, one write at a time. Size() is announced
// as the Content-Length before the first byte; a source that cannot deliver exactly that
// many bytes reports Failed(), and the request is abandoned instead of leaving the server
// waiting for bytes that never come.
class UploadSource {
 public:
  virtual ~UploadSource() = default;

  virtual std::uint64_t Size() const = 0;
  // Up to `capacity` bytes of the body; 0 at its end or on failure.
  virtual std::size_t Fill(char* buffer, std::size_t capacity) = 0;
  virtual bool Failed() const = 0;
};

}  // namespace hopwell
