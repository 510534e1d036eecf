#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

#include "base/Logging.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// Reads one response body the way every operation of the helper reports it: the body is
// cut into pieces of kPieceSize bytes (the last one shorter), each logged and passed to
// the progress callback with the running total, and a final empty piece ends it. The bytes
// go to `out` (dropped when it is null) through a small staging buffer. When `out` collects
// the answer in memory (a string stream), an answer larger than `memoryLimit` is refused.
class ResponseReader {
 public:
  static constexpr std::size_t kPieceSize = 8192;

  ResponseReader(std::ostream* out, ProgressCallback progress, void* context,
                 std::size_t memoryLimit);

  // Starts the body: logs "ReadRequest" and the announced length; a negative length
  // (no Content-Length, for example a chunked answer) is logged as an error and counts as 0.
  void Begin(std::int64_t contentLength);
  bool Begun() const { return begun_; }

  // Takes the next bytes of the body. False when the output stream failed or the answer
  // grew too large for memory.
  bool Append(const char* data, std::size_t n);
  // Ends the body: the last partial piece, then the empty one. False when `out` failed.
  bool Finish();
  // Writes what is staged, so `out` keeps everything received before a failure.
  void Flush();

  bool OutputFailed() const { return outputFailed_; }
  // True when the answer was refused for its size (announced or received).
  bool TooLarge() const { return tooLarge_; }
  std::size_t MemoryLimit() const { return memoryLimit_; }
  std::uint64_t Total() const { return total_; }

 private:
  // Counts, logs and reports one piece of n bytes.
  void Report(std::size_t n);
  bool Emit(const char* data, std::size_t n);
  bool WriteOut(const char* data, std::size_t n);
  bool Stage(const char* data, std::size_t n);

  LogSource log_;
  std::ostream* out_;
  ProgressCallback progress_;
  void* context_;
  std::size_t memoryLimit_;
  bool inMemory_;
  bool tooLarge_ = false;
  bool begun_ = false;
  bool outputFailed_ = false;
  std::uint64_t length_ = 0;
  std::uint64_t total_ = 0;
  std::array<char, kPieceSize> piece_{};
  std::size_t pieceFilled_ = 0;
  std::vector<char> staging_;
};

}  // namespace hopwell
