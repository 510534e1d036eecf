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
// (attempt k/3)". A 206 answer continues the file; any other answer to a Range request is
// the whole file (or an error page) and is written from the file's first byte, so the file
// always holds exactly what the last answer said it is. The progress callback sees the
// file's running totals. Result and status are those of the last request: a download that
// needed no resume behaves exactly like one Get. A download of cancelled work
// (CancelRequestedHere) that did not complete leaves no file behind.
class ResumableDownload {
 public:
  static constexpr int kMaxResumes = 3;

  ResumableDownload(IHttpHelper& http, std::ostream& file, boost::filesystem::path target);
  ResumableDownload(const ResumableDownload&) = delete;
  ResumableDownload& operator=(const ResumableDownload&) = delete;

  HttpResult Get(const std::string& url, ProgressCallback progress, void* context,
                 const HeaderList& headers, long* status);

  // Range requests sent by the last Get.
  int Resumes() const { return resumes_; }

 private:
  class AnswerBuffer;

  // Where in the file the current answer starts; decided once per request, before its
  // first byte is written or reported.
  void DecideStart();
  static void ForwardProgress(void* self, std::uint64_t downloadTotal, std::uint64_t downloaded,
                              std::uint64_t uploadTotal, std::uint64_t uploaded);
  // Cuts what an earlier, longer answer left beyond the end of a rewritten file.
  void TrimRewrittenFile();
  void RemoveUnfinishedFile();

  LogSource log_;
  IHttpHelper& http_;
  std::ostream& file_;
  const boost::filesystem::path target_;
  ProgressCallback progress_ = nullptr;
  void* context_ = nullptr;
  long status_ = 0;
  std::uint64_t offset_ = 0;  // bytes in the file when the current request was sent
  std::uint64_t base_ = 0;    // where the current answer's first byte goes
  bool decided_ = false;
  bool rewritten_ = false;
  int resumes_ = 0;
};

// One resumable download: ResumableDownload(http, file, target).Get(...).
HttpResult GetResuming(IHttpHelper& http, const std::string& url, std::ostream& file,
                       const boost::filesystem::path& target, ProgressCallback progress,
                       void* context, const HeaderList& headers, long* status);

}  // namespace hopwell
