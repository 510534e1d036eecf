#include "net/ResumableDownload.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string_view>

#include <boost/filesystem/operations.hpp>

#include "base/CancelToken.h"

namespace hopwell {

namespace fs = boost::filesystem;

namespace {

constexpr const char* kChangedText = "the file changed on the server while it was downloaded";

struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t total = 0;
};

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// A whole decimal number up to `stop` (or the end); the rest of the text after the stop
// character. Nothing for anything else.
std::optional<std::uint64_t> Number(std::string_view& text, char stop) {
  const std::size_t end = stop == '\0' ? text.size() : text.find(stop);
  if (end == std::string_view::npos || end == 0) return std::nullopt;
  std::uint64_t value = 0;
  const auto [next, error] = std::from_chars(text.data(), text.data() + end, value);
  if (error != std::errc() || next != text.data() + end) return std::nullopt;
  text.remove_prefix(end == text.size() ? end : end + 1);
  return value;
}

// "bytes FIRST-LAST/TOTAL"; nothing for any other form (a "*" total or length included).
std::optional<ContentRange> ParseContentRange(std::string_view text) {
  text = Trimmed(text);
  constexpr std::string_view kUnit = "bytes ";
  if (text.size() <= kUnit.size()) return std::nullopt;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != kUnit[i]) return std::nullopt;
  }
  text = Trimmed(text.substr(kUnit.size()));
  ContentRange range;
  const auto first = Number(text, '-');
  const auto last = first ? Number(text, '/') : std::nullopt;
  const auto total = last ? Number(text, '\0') : std::nullopt;
  if (!total || *last < *first || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

}  // namespace

// Passes an answer's bytes on to the file, after the owner has decided where they go; a
// refused answer is not written, which ends its transfer.
class ResumableDownload::AnswerBuffer : public std::streambuf {
 public:
  explicit AnswerBuffer(ResumableDownload& owner) : owner_(owner) {}

 protected:
  std::streamsize xsputn(const char* data, std::streamsize n) override {
    owner_.DecideStart();
    if (owner_.refusal_ != Refusal::None) return 0;
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
    : http_(http), file_(file), target_(std::move(target)) {
  // A download kept as "<name>.part" until it is whole is logged under the file's own name.
  name_ = (target_.extension() == ".part" ? target_.stem() : target_.filename()).string();
}

HttpResult ResumableDownload::Get(const std::string& url, ProgressCallback progress, void* context,
                                  const HeaderList& headers, long* status) {
  progress_ = progress;
  context_ = context;
  resumes_ = 0;
  restarts_ = 0;
  offset_ = 0;
  rewritten_ = false;
  changed_ = false;
  etag_.clear();
  lastModified_.clear();
  total_ = 0;
  AnswerBuffer buffer(*this);
  std::ostream answer(&buffer);
  HttpResult result = HttpResult::Ok;
  for (;;) {
    HeaderList request = headers;
    if (offset_ > 0) {
      request.emplace_back("Range", "bytes=" + std::to_string(offset_) + "-");
      const std::string& validator = !etag_.empty() ? etag_ : lastModified_;
      if (!validator.empty()) request.emplace_back("If-Range", validator);
    }
    decided_ = false;
    refusal_ = Refusal::None;
    status_ = 0;
    answer.clear();
    result = http_.Get(url, &answer, progress_ != nullptr ? &ForwardProgress : nullptr, this, {},
                       request, &status_);
    DecideStart();  // an answer without a body byte settles the file too
    file_.flush();
    if (CancelRequestedHere()) break;
    if (refusal_ == Refusal::Changed) {
      changed_ = true;
      result = HttpResult::ReadFailed;
      break;
    }
    if (refusal_ == Refusal::Restart) {
      ++restarts_;
      Rewind();
      offset_ = 0;
      HW_LOG(log_, info) << "Downloading " << name_ << " again from byte 0";
      continue;
    }
    const std::streamoff written = file_ ? static_cast<std::streamoff>(file_.tellp()) : -1;
    // Only a file answer that broke off, with bytes of it safely written, is continued.
    const bool fileAnswer = status_ == 200 || status_ == 206;
    if (result != HttpResult::ReadFailed || !fileAnswer || written <= 0 ||
        resumes_ == kMaxResumes) {
      break;
    }
    ++resumes_;
    offset_ = static_cast<std::uint64_t>(written);
    HW_LOG(log_, info) << "Resuming " << name_ << " at byte " << offset_ << " (attempt " << resumes_
                       << "/" << kMaxResumes << ")";
  }
  if (rewritten_) TrimRewrittenFile();
  if (status != nullptr) *status = status_;
  if (changed_ || (result != HttpResult::Ok && CancelRequestedHere())) RemoveUnfinishedFile();
  return result;
}

std::string ResumableDownload::ErrorText(HttpResult result) const {
  return changed_ ? kChangedText : http_.ErrorText(result);
}

void ResumableDownload::DecideStart() {
  if (decided_) return;
  decided_ = true;
  base_ = offset_;
  if (offset_ == 0) {
    if (status_ == 200) RememberFile();
    return;
  }
  if (status_ == 206) {
    if (const std::string why = MismatchOfPart(); !why.empty()) Refuse(why);
    return;
  }
  if (status_ == 200) {
    // The whole file again: the server ignores ranges, or If-Range found another version.
    if (restarts_ >= kMaxRestarts) {
      Refuse("the whole file was sent again");
      return;
    }
    HW_LOG(log_, info) << "The server answered the range of " << name_
                       << " with the whole file: starting again from byte 0";
    ++restarts_;
    Rewind();
    RememberFile();
    return;
  }
  if (status_ == 416) {
    Refuse("HTTP 416");
    return;
  }
  // Not the part asked for: this answer (an error page) is what the file is now.
  HW_LOG(log_, info) << "The server answered the range of " << name_ << " with HTTP " << status_
                     << ": starting again from byte 0";
  Rewind();
}

std::string ResumableDownload::MismatchOfPart() {
  const std::string header = http_.ResponseHeader("Content-Range");
  const auto range = ParseContentRange(header);
  if (!range) return "Content-Range \"" + header + "\"";
  if (range->first != offset_) {
    return "it starts at byte " + std::to_string(range->first) + ", not " + std::to_string(offset_);
  }
  if (range->last + 1 != range->total) return "it ends before the end of the file";
  if (total_ != 0 && range->total != total_) {
    return "the file is " + std::to_string(range->total) + " bytes long, not " +
           std::to_string(total_);
  }
  const std::string etag = http_.ResponseHeader("ETag");
  if (!etag_.empty() && !etag.empty() && etag != etag_) return "its ETag is " + etag;
  const std::string lastModified = http_.ResponseHeader("Last-Modified");
  if (etag_.empty() && !lastModified_.empty() && !lastModified.empty() &&
      lastModified != lastModified_) {
    return "it was last modified " + lastModified;
  }
  total_ = range->total;
  return {};
}

void ResumableDownload::Refuse(const std::string& why) {
  if (restarts_ < kMaxRestarts) {
    refusal_ = Refusal::Restart;
    HW_LOG(log_, warning) << "The answer to the range of " << name_ << " does not continue it ("
                          << why << ")";
  } else {
    refusal_ = Refusal::Changed;
    HW_LOG(log_, error) << name_ << " changed on the server while it was downloaded (" << why
                        << ")";
  }
}

void ResumableDownload::RememberFile() {
  const std::string etag = http_.ResponseHeader("ETag");
  // A weak ETag may not be used for a range.
  etag_ = etag.rfind("W/", 0) == 0 ? std::string() : etag;
  lastModified_ = http_.ResponseHeader("Last-Modified");
  std::string_view length = Trimmed(http_.ResponseHeader("Content-Length"));
  total_ = Number(length, '\0').value_or(0);
}

void ResumableDownload::Rewind() {
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
  if (download.refusal_ != Refusal::None) return;
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
