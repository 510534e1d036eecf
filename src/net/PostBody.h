#pragma once

#include <cstddef>
#include <cstdint>

#include "base/Logging.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// A request body that the POST operations read one buffer at a time, so large bodies
// never sit in memory. Size() bytes go out as the Content-Length.
class PostBody {
 public:
  virtual ~PostBody() = default;
  PostBody(const PostBody&) = delete;
  PostBody& operator=(const PostBody&) = delete;

  // Fills `buffer` with up to `capacity` bytes; 0 when the body is exhausted (or its source
  // failed). Calls the body's own progress callback, if any, after each read.
  virtual std::size_t Read(char* buffer, std::size_t capacity) = 0;

  std::uint64_t Size() const { return size_; }
  std::uint64_t Delivered() const { return delivered_; }

  // Called with (context, 0, 0, Size(), Delivered()) after each read.
  void SetProgressCallback(ProgressCallback progress, void* context) {
    progress_ = progress;
    context_ = context;
  }

 protected:
  explicit PostBody(std::uint64_t size) : size_(size) {}

  // Adds n delivered bytes and reports progress.
  void Advance(std::size_t n) {
    delivered_ += n;
    if (progress_ != nullptr) progress_(context_, 0, 0, size_, delivered_);
  }

  LogSource log_;
  std::uint64_t size_;
  std::uint64_t delivered_ = 0;

 private:
  ProgressCallback progress_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace hopwell

// The concrete bodies, so that one include serves callers.
#include "net/FilePostBody.h"
#include "net/StreamPostBody.h"
#include "net/StringPostData.h"
