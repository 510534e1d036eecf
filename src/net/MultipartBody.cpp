#include "net/MultipartBody.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

namespace hopwell {
namespace {

constexpr char kBoundaryCharacters[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::size_t kFieldOverhead = 49;
constexpr std::size_t kFileOverhead = 137;
constexpr std::size_t kClosingOverhead = 6;

const char* const kFieldTemplate =
    "--%1%\r\nContent-Disposition: form-data; name=\"%2%\"\r\n\r\n%3%\r\n";
const char* const kFileHeaderTemplate =
    "--%1%\r\nContent-Disposition: form-data; name=\"%2%\"; filename=\"%3%\"\r\n"
    "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n\r\n";
const char* const kClosingTemplate = "--%1%--\r\n";

// True when `needle` occurs in the file; reads it in blocks, keeping an overlap so that a
// match across two blocks is seen. A file that cannot be read holds nothing.
bool FileContains(const boost::filesystem::path& path, const std::string& needle) {
  FileHandle file = OpenFile(path, "rb");
  if (!file) return false;
  std::vector<char> block(64 * 1024 + needle.size());
  std::size_t kept = 0;
  for (;;) {
    const std::size_t n = std::fread(block.data() + kept, 1, block.size() - kept, file.get());
    if (n == 0) return false;
    const std::size_t filled = kept + n;
    if (std::search(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(filled),
                    needle.begin(), needle.end()) !=
        block.begin() + static_cast<std::ptrdiff_t>(filled)) {
      return true;
    }
    kept = std::min(filled, needle.size() - 1);
    std::memmove(block.data(), block.data() + filled - kept, kept);
  }
}

}  // namespace

MultipartBody::MultipartBody(const FileList& files, const FieldList& fields,
                             ProgressCallback progress, void* context,
                             std::function<unsigned()> random)
    : files_(files), fields_(fields), progress_(progress), context_(context) {
  if (!random) {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    random = [engine] { return static_cast<unsigned>((*engine)()); };
  }
  for (const auto& [name, value] : fields_) {
    size_ += kBoundaryLength + kFieldOverhead + name.size() + value.size();
  }
  for (const auto& [name, path] : files_) {
    boost::system::error_code error;
    const std::uintmax_t fileSize = boost::filesystem::file_size(path, error);
    fileSizes_.push_back(error ? 0 : fileSize);
    size_ += kBoundaryLength + kFileOverhead + name.size() + path.filename().string().size() +
             fileSizes_.back();
  }
  size_ += kBoundaryLength + kClosingOverhead;

  // A form that is too large is refused before anything is sent; scanning its files for a
  // boundary would only cost time.
  if (size_ > std::numeric_limits<std::uint32_t>::max()) return;
  do {
    boundary_ = MakeBoundary(random);
  } while (OccursInInputs(boundary_));
}

std::string MultipartBody::MakeBoundary(const std::function<unsigned()>& random) const {
  std::string boundary(kBoundaryLength, '0');
  for (char& c : boundary) c = kBoundaryCharacters[random() % 62];
  return boundary;
}

bool MultipartBody::OccursInInputs(const std::string& candidate) const {
  for (const auto& [name, value] : fields_) {
    if (name.find(candidate) != std::string::npos || value.find(candidate) != std::string::npos) {
      return true;
    }
  }
  for (const auto& [name, path] : files_) {
    if (name.find(candidate) != std::string::npos || FileContains(path, candidate)) return true;
  }
  return false;
}

std::size_t MultipartBody::Fill(char* buffer, std::size_t capacity) {
  while (!failed_ && capacity > 0) {
    if (pendingOffset_ < pending_.size()) return TakePending(buffer, capacity);
    switch (step_) {
      case Step::Fields:
        if (index_ < fields_.size()) {
          const auto& [name, value] = fields_[index_++];
          HW_LOG(log_, info) << "Sending field\n\t" << name << "\n\t" << value;
          pending_ = (boost::format(kFieldTemplate) % boundary_ % name % value).str();
          pendingOffset_ = 0;
        } else {
          step_ = Step::FileHeader;
          index_ = 0;
        }
        break;
      case Step::FileHeader:
        if (index_ < files_.size()) {
          const auto& [name, path] = files_[index_];
          HW_LOG(log_, info) << "Sending file header\n\t" << name << "\n\t" << path;
          file_ = OpenFile(path, "rb");
          if (!file_) {
            HW_LOG(log_, error) << "Failed to open file " << path << " for sending";
            failed_ = true;
            return 0;
          }
          pending_ = (boost::format(kFileHeaderTemplate) % boundary_ % name %
                      path.filename().string()).str();
          pendingOffset_ = 0;
          fileSent_ = 0;
          step_ = Step::FileData;
        } else {
          step_ = Step::Closing;
        }
        break;
      case Step::FileData:
        if (const std::size_t n = FillFileData(buffer, capacity); n > 0 || failed_) return n;
        pending_ = "\r\n";
        pendingOffset_ = 0;
        HW_LOG(log_, info) << "Reached end of file";
        file_.reset();
        ++index_;
        step_ = Step::FileHeader;
        break;
      case Step::Closing:
        HW_LOG(log_, info) << "Sending last boundary";
        pending_ = (boost::format(kClosingTemplate) % boundary_).str();
        pendingOffset_ = 0;
        step_ = Step::Done;
        break;
      case Step::Done:
        CheckSize();
        return 0;
    }
  }
  return 0;
}

std::size_t MultipartBody::TakePending(char* buffer, std::size_t capacity) {
  const std::size_t n = std::min(capacity, pending_.size() - pendingOffset_);
  std::memcpy(buffer, pending_.data() + pendingOffset_, n);
  pendingOffset_ += n;
  written_ += n;
  HW_LOG(log_, debug) << "HttpOpenRequestWrapper::Write: (" << n << ")";
  return n;
}

std::size_t MultipartBody::FillFileData(char* buffer, std::size_t capacity) {
  // The size announced in the Content-Length is the size the file had when the body was
  // made; bytes beyond it are not sent.
  const std::uint64_t remaining = fileSizes_[index_] - fileSent_;
  if (remaining == 0) return 0;
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>({kFilePieceSize, capacity, remaining}));
  const std::size_t n = std::fread(buffer, 1, wanted, file_.get());
  if (n == 0) {
    HW_LOG(log_, error) << "Could not read everything from " << files_[index_].second;
    failed_ = true;
    CheckSize();
    return 0;
  }
  HW_LOG(log_, info) << "Sent so far: " << fileSent_ << ". Sending " << n << " bytes.";
  HW_LOG(log_, debug) << "HttpOpenRequestWrapper::Write: (" << n << ")";
  fileSent_ += n;
  written_ += n;
  if (progress_ != nullptr) progress_(context_, 0, 0, size_, written_);
  return n;
}

void MultipartBody::CheckSize() {
  if (written_ != size_) {
    HW_LOG(log_, warning) << "Calculated post size was " << size_ << " but actual was "
                          << written_;
    failed_ = true;
  }
}

}  // namespace hopwell
