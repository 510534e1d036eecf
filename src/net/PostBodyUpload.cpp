#include "net/PostBodyUpload.h"

#include <algorithm>

namespace hopwell {

PostBodyUpload::PostBodyUpload(PostBody& body, ProgressCallback progress, void* context)
    : body_(body),
      progress_(progress),
      context_(context),
      size_(body.Size()),
      transferBuffer_(
          static_cast<std::size_t>(std::min<std::uint64_t>(size_, kMaxTransferBuffer))) {}

std::size_t PostBodyUpload::Fill(char* buffer, std::size_t capacity) {
  std::size_t filled = 0;
  while (filled < capacity) {
    const std::size_t n = FillPiece(buffer + filled, capacity - filled);
    if (n == 0) break;
    filled += n;
  }
  return filled;
}

std::size_t PostBodyUpload::FillPiece(char* buffer, std::size_t capacity) {
  if (failed_ || sent_ >= size_) return 0;
  // Never more than the Content-Length announced, whatever the source still holds.
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>({capacity, transferBuffer_, size_ - sent_}));
  const std::size_t n = body_.Read(buffer, wanted);
  if (n == 0) {
    HW_LOG(log_, warning) << "The request body ended after " << sent_ << " of " << size_
                          << " bytes";
    failed_ = true;
    return 0;
  }
  HW_LOG(log_, info) << "Sent so far: " << sent_ << ". Sending " << n << " bytes.";
  HW_LOG(log_, debug) << "HttpOpenRequestWrapper::Write: (" << n << ")";
  sent_ += n;
  if (progress_ != nullptr) progress_(context_, 0, 0, size_, sent_);
  return n;
}

}  // namespace hopwell
