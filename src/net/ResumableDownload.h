#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// A Get of one file that survives a cut connection. `file` is the caller's stream on
// `target`, opened for writing from the file's start.
//
// When a transfer breaks off after bytes of the file arrived (a reset, the idle time-out, a
// body shorter than announced), the rest is asked for with a Range request from the bytes
// already written, at most kMaxResumes times, each logged as "Resuming <name> at byte N
// (attempt k/3)". The first answer's ETag (a strong one), else its Last-Modified, goes with
// the Range as If-Range, and its length is the file's total. A 206 continues the file only
// when its Content-Range is exactly "bytes N-(total-1)/total" for that total (and it names no
// other validator); any other answer to a Range request (another start or total, the whole
// file again, a 416) means the file is not the one that was cut: it is downloaded again from
// byte 0, once. A second such answer fails the download (ErrorText tells that the file
// changed on the server). Without any validator a change that keeps the size cannot be
// seen. An error page answered to a Range request is written from the file's first byte, so
// the file always holds exactly what the last answer said it is. The progress callback sees
// the file's running totals. Result and status are those of the last request: a download
// that needed no resume behaves exactly like one Get. A download of cancelled work
// (CancelRequestedHere), or of a file that changed, that did not complete leaves no file
// behind.
class ResumableDownload {
 public:
  static constexpr int kMaxResumes = 3;
  static constexpr int kMaxRestarts = 1;

  ResumableDownload(IHttpHelper& http, std::ostream& file, boost::filesystem::path target);
  ResumableDownload(const ResumableDownload&) = delete;
  ResumableDownload& operator=(const ResumableDownload&) = delete;

  HttpResult Get(const std::string& url, ProgressCallback progress, void* context,
                 const HeaderList& headers, long* status);

  // Range requests sent by the last Get.
  int Resumes() const { return resumes_; }
  // Times the last Get started the file again from byte 0 after a Range request.
  int Restarts() const { return restarts_; }
  // The description of the last Get's failure with this result.
  std::string ErrorText(HttpResult result) const;

 private:
  class AnswerBuffer;
  enum class Refusal { None, Restart, Changed };

  // Where in the file the current answer starts; decided once per request, before its
  // first byte is written or reported.
  void DecideStart();
  // Why a 206 does not continue the file; empty when it does.
  std::string MismatchOfPart();
  // Refuses the current answer: the file is started again, or it failed for good.
  void Refuse(const std::string& why);
  // Keeps what identifies the file from an answer that starts it at byte 0.
  void RememberFile();
  void Rewind();
  static void ForwardProgress(void* self, std::uint64_t downloadTotal, std::uint64_t downloaded,
                              std::uint64_t uploadTotal, std::uint64_t uploaded);
  // Cuts what an earlier, longer answer left beyond the end of a rewritten file.
  void TrimRewrittenFile();
  void RemoveUnfinishedFile();

  LogSource log_;
  IHttpHelper& http_;
  std::ostream& file_;
  const boost::filesystem::path target_;
  std::string name_;  // as the log lines name the file
  ProgressCallback progress_ = nullptr;
  void* context_ = nullptr;
  long status_ = 0;
  std::uint64_t offset_ = 0;  // bytes in the file when the current request was sent
  std::uint64_t base_ = 0;    // where the current answer's first byte goes
  bool decided_ = false;
  bool rewritten_ = false;
  Refusal refusal_ = Refusal::None;
  bool changed_ = false;
  int resumes_ = 0;
  int restarts_ = 0;
  // The file as its first answer described it.
  std::string etag_;
  std::string lastModified_;
  std::uint64_t total_ = 0;  // 0 when not known
};

// One resumable download: ResumableDownload(http, file, target).Get(...).
HttpResult GetResuming(IHttpHelper& http, const std::string& url, std::ostream& file,
                       const boost::filesystem::path& target, ProgressCallback progress,
                       void* context, const HeaderList& headers, long* status);

}  // namespace hopwell
