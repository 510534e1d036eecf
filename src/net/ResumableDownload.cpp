#include "net/ResumableDownload.h"

#include <ostream>
#include <streambuf>

#include <boost/filesystem/operations.hpp>

#include "base/CancelToken.h"

namespace hopwell {

namespace fs = boost::filesystem;

// Passes an answer's bytes on to the file, after the owner has decided where they go.
class ResumableDownload::AnswerBuffer : public std::streambuf {
 public:
  explicit AnswerBuffer(ResumableDownload& owner) : owner_(owner) {}

 protected:
  std::streamsize xsputn(const char* data, std::streamsize n) override {
    owner_.DecideStart();
    owner_.file_.write(data, n);
    return owner_.file_ ? n : 0;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }
  int sync() override {
    owner_.file_.flush();
    return owner_.file_ ? 0 : -1;
  }

 private:
  ResumableDownload& owner_;
};

ResumableDownload::ResumableDownload(IHttpHelper& http, std::ostream& file, fs::path target)
    : http_(http), file_(file), target_(std::move(target)) {}

HttpResult ResumableDownload::Get(const std::string& url, ProgressCallback progress, void* context,
                                  const HeaderList& headers, long* status) {
  progress_ = progress;
  context_ = context;
  resumes_ = 0;
  offset_ = 0;
  rewritten_ = false;
  AnswerBuffer buffer(*this);
  std::ostream answer(&buffer);
  // A download kept as "<name>.part" until it is whole is logged under the file's own name.
  const std::string name =
      (target_.extension() == ".part" ? target_.stem() : target_.filename()).string();
  HttpResult result = HttpResult::Ok;
  for (;;) {
    HeaderList request = headers;
    if (offset_ > 0) request.emplace_back("Range", "bytes=" + std::to_string(offset_) + "-");
    decided_ = false;
    status_ = 0;
    answer.clear();
    result = http_.Get(url, &answer, progress_ != nullptr ? &ForwardProgress : nullptr, this, {},
                       request, &status_);
    DecideStart();  // an answer without a body byte settles the file too
    file_.flush();
    if (CancelRequestedHere()) break;
    const std::streamoff written = file_ ? static_cast<std::streamoff>(file_.tellp()) : -1;
    // Only a file answer that broke off, with bytes of it safely written, is continued.
    const bool fileAnswer = status_ == 200 || status_ == 206;
    if (result != HttpResult::ReadFailed || !fileAnswer || written <= 0 ||
        resumes_ == kMaxResumes) {
      break;
    }
    ++resumes_;
    offset_ = static_cast<std::uint64_t>(written);
    HW_LOG(log_, info) << "Resuming " << name << " at byte " << offset_ << " (attempt " << resumes_
                       << "/" << kMaxResumes << ")";
  }
  if (rewritten_) TrimRewrittenFile();
  if (status != nullptr) *status = status_;
  if (result != HttpResult::Ok && CancelRequestedHere()) RemoveUnfinishedFile();
  return result;
}

void ResumableDownload::DecideStart() {
  if (decided_) return;
  decided_ = true;
  base_ = offset_;
  if (offset_ == 0 || status_ == 206) return;
  // Not the part asked for: this answer is the whole file from its first byte.
  HW_LOG(log_, info) << "The server answered the range of " << target_.filename() << " with HTTP "
                     << status_ << ": starting again from byte 0";
  file_.flush();
  file_.seekp(0);
  base_ = 0;
  rewritten_ = true;
}

void ResumableDownload::ForwardProgress(void* self, std::uint64_t downloadTotal,
                                        std::uint64_t downloaded, std::uint64_t uploadTotal,
                                        std::uint64_t uploaded) {
  auto& download = *static_cast<ResumableDownload*>(self);
  download.DecideStart();
  const std::uint64_t base = download.base_;
  download.progress_(download.context_, downloadTotal > 0 ? base + downloadTotal : 0,
                     base + downloaded, uploadTotal, uploaded);
}

void ResumableDownload::TrimRewrittenFile() {
  file_.flush();
  if (!file_) return;
  const std::streamoff end = file_.tellp();
  boost::system::error_code error;
  if (end >= 0) fs::resize_file(target_, static_cast<std::uintmax_t>(end), error);
  if (error) {
    HW_LOG(log_, error) << "Could not cut " << target_ << " to " << end
                        << " bytes: " << error.message();
    file_.setstate(std::ios::badbit);
  }
}

void ResumableDownload::RemoveUnfinishedFile() {
  boost::system::error_code error;
  if (fs::remove(target_, error)) {
    HW_LOG(log_, info) << "Removed the unfinished download " << target_;
  } else if (error) {
    HW_LOG(log_, warning) << "Could not remove the unfinished download " << target_ << ": "
                          << error.message();
  }
}

HttpResult GetResuming(IHttpHelper& http, const std::string& url, std::ostream& file,
                       const fs::path& target, ProgressCallback progress, void* context,
                       const HeaderList& headers, long* status) {
  return ResumableDownload(http, file, target).Get(url, progress, context, headers, status);
}

}  // namespace hopwell
