#pragma once

#include "base/Logging.h"
#include "net/IHttpHelper.h"
#include "net/PostBody.h"
#include "net/UploadSource.h"

namespace hopwell {

// The POST procedure's body loop: pieces of at most TransferBufferSize() bytes from a
// PostBody, each logged and reported as (0, 0, body size, sent so far). Fill hands over as
// many whole pieces as the transfer's buffer takes.
class PostBodyUpload : public UploadSource {
 public:
  static constexpr std::size_t kMaxTransferBuffer = 65536;

  PostBodyUpload(PostBody& body, ProgressCallback progress, void* context);

  std::uint64_t Size() const override { return size_; }
  std::size_t Fill(char* buffer, std::size_t capacity) override;
  bool Failed() const override { return failed_; }

  // The body size, but at most 65 536 bytes.
  std::size_t TransferBufferSize() const { return transferBuffer_; }

 private:
  // One piece: read, logged and reported; 0 at the end of the body or after a failure.
  std::size_t FillPiece(char* buffer, std::size_t capacity);

  LogSource log_;
  PostBody& body_;
  ProgressCallback progress_;
  void* context_;
  std::uint64_t size_;
  std::size_t transferBuffer_;
  std::uint64_t sent_ = 0;
  bool failed_ = false;
};

}  // namespace hopwell
