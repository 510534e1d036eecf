#include "net/ResponseReader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <sstream>

#include "net/CurlHandles.h"

namespace hopwell {
namespace {

// Output is handed to the stream in blocks of this size; the pieces stay 8192 bytes.
constexpr std::size_t kStagingSize = 256 * 1024;
// A run of whole pieces at least this long is written from the caller's buffer directly.
constexpr std::size_t kDirectWriteSize = 64 * 1024;

}  // namespace

ResponseReader::ResponseReader(std::ostream* out, ProgressCallback progress, void* context,
                               std::size_t memoryLimit)
    : out_(out),
      progress_(progress),
      context_(context),
      memoryLimit_(memoryLimit),
      // Answers that end up in a string are the ones held in memory; files are not limited.
      inMemory_(out != nullptr && dynamic_cast<std::stringbuf*>(out->rdbuf()) != nullptr) {
  if (out_ != nullptr) staging_.reserve(kStagingSize);
}

void ResponseReader::Begin(std::int64_t contentLength) {
  begun_ = true;
  HW_LOG(log_, info) << "ReadRequest";
  if (contentLength < 0) {
    LogTransferError(log_, 0, "", "The response has no Content-Length header");
    HW_LOG(log_, error) << "HttpQueryInfo returned an error";
    length_ = 0;
  } else {
    length_ = static_cast<std::uint64_t>(contentLength);
    if (inMemory_ && length_ > memoryLimit_) tooLarge_ = true;
  }
  HW_LOG(log_, info) << "Downloading " << length_ << " bytes";
}

bool ResponseReader::Append(const char* data, std::size_t n) {
  if (outputFailed_ || tooLarge_) return false;
  if (inMemory_ && total_ + pieceFilled_ + n > memoryLimit_) {
    tooLarge_ = true;
    return false;
  }
  if (pieceFilled_ > 0) {
    const std::size_t take = std::min(n, kPieceSize - pieceFilled_);
    std::memcpy(piece_.data() + pieceFilled_, data, take);
    pieceFilled_ += take;
    data += take;
    n -= take;
    if (pieceFilled_ < kPieceSize) return true;
    pieceFilled_ = 0;
    if (!Emit(piece_.data(), kPieceSize)) return false;
  }
  // Whole pieces straight from the transfer's buffer: each is reported, and the run of
  // them goes to the stream in one write when it is large enough, without a copy.
  const std::size_t whole = n - n % kPieceSize;
  if (whole >= kDirectWriteSize && out_ != nullptr) {
    for (std::size_t done = 0; done < whole; done += kPieceSize) Report(kPieceSize);
    Flush();
    if (!WriteOut(data, whole)) return false;
    data += whole;
    n -= whole;
  }
  while (n >= kPieceSize) {
    if (!Emit(data, kPieceSize)) return false;
    data += kPieceSize;
    n -= kPieceSize;
  }
  std::memcpy(piece_.data(), data, n);
  pieceFilled_ = n;
  return true;
}

bool ResponseReader::Finish() {
  if (outputFailed_) return false;
  if (pieceFilled_ > 0) {
    const std::size_t n = pieceFilled_;
    pieceFilled_ = 0;
    if (!Emit(piece_.data(), n)) return false;
  }
  if (!Emit(nullptr, 0)) return false;
  Flush();
  return !outputFailed_;
}

void ResponseReader::Flush() {
  if (out_ == nullptr || outputFailed_) return;
  if (pieceFilled_ > 0) {
    // A transfer that broke off keeps its last partial piece too.
    staging_.insert(staging_.end(), piece_.data(), piece_.data() + pieceFilled_);
    pieceFilled_ = 0;
  }
  if (staging_.empty()) return;
  WriteOut(staging_.data(), staging_.size());
  staging_.clear();
}

bool ResponseReader::WriteOut(const char* data, std::size_t n) {
  if (outputFailed_) return false;
  try {
    out_->write(data, static_cast<std::streamsize>(n));
    if (!*out_) outputFailed_ = true;
  } catch (const std::exception&) {
    // A stream with exceptions enabled: the failure is reported by result like any other.
    outputFailed_ = true;
  }
  return !outputFailed_;
}

void ResponseReader::Report(std::size_t n) {
  total_ += n;
  HW_LOG(log_, info) << "Received " << n << " bytes";
  if (progress_ != nullptr) progress_(context_, length_, total_, 0, 0);
}

bool ResponseReader::Emit(const char* data, std::size_t n) {
  Report(n);
  if (n == 0 || out_ == nullptr) return true;
  return Stage(data, n);
}

bool ResponseReader::Stage(const char* data, std::size_t n) {
  if (staging_.size() + n > kStagingSize) Flush();
  if (outputFailed_) return false;
  staging_.insert(staging_.end(), data, data + n);
  return true;
}

}  // namespace hopwell
