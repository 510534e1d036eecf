#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "base/Logging.h"

namespace hopwell {

class PostBody;

// Transport result of every transfer operation. Only Ok means the exchange completed; the
// HTTP status is reported separately and interpreted by the caller.
enum class HttpResult : int {
  Ok = 0,
  OpenRequestFailed = 4,  // no request could be opened (session or connection included)
  AddHeadersFailed = 5,   // Get: the extra headers could not be attached
  SendFailed = 6,         // Get: sending failed; PostMultipart: body of 4 GiB or more
  NotAllowed = 7,         // URL not on the allow-list, or it cannot be split
  ReadFailed = 8,         // reading the response failed
  WriteFailed = 9,        // POST: starting, writing or ending the request failed
};

// Streams the number, so log lines and messages show "7", not a name.
std::ostream& operator<<(std::ostream& out, HttpResult result);
inline int ToInt(HttpResult result) {
  return static_cast<int>(result);
}

// Progress of a transfer: (context, download total, downloaded, upload total, uploaded).
// A download of unknown size reports a total of 0. It cannot cancel the transfer.
using ProgressCallback = void (*)(void* context, std::uint64_t downloadTotal,
                                  std::uint64_t downloaded, std::uint64_t uploadTotal,
                                  std::uint64_t uploaded);

using StringPair = std::pair<std::string, std::string>;
// (name, value): sent as "name:value" header lines, in order.
using HeaderList = std::vector<StringPair>;
// (name, value): appended to the URL as escaped query parameters, in order.
using QueryList = std::vector<StringPair>;
// (name, value): the plain fields of a multipart form.
using FieldList = std::vector<StringPair>;
// (field name, file path): the file parts of a multipart form.
using FileList = std::vector<std::pair<std::string, boost::filesystem::path>>;

// The one object every request to the platform goes through. A command creates one
// (CreateHttpHelper), keeps it for its lifetime and calls it from its own thread only.
// Every operation checks the URL against the allow-list first (result NotAllowed, nothing
// sent) and appends the client's identification parameters. `out` receives the response
// body and may be null (the body is read and dropped); `status` receives the HTTP status.
// Work cancelled on the calling thread (CancelRequestedHere) sends nothing more: a request
// is not started, and one under way stops within about a second, failing with the text
// "Cancelled".
class IHttpHelper {
 public:
  virtual ~IHttpHelper() = default;
  IHttpHelper(const IHttpHelper&) = delete;
  IHttpHelper& operator=(const IHttpHelper&) = delete;

  // Releases what a command's transfers left behind; called near the end of a command.
  virtual void Prepare() = 0;

  virtual HttpResult Get(const std::string& url, std::ostream* out,
                         ProgressCallback progress = nullptr, void* context = nullptr,
                         const QueryList& query = {}, const HeaderList& headers = {},
                         long* status = nullptr) = 0;

  // POST of `size` bytes read from `in`.
  virtual HttpResult PostStream(const std::string& url, const std::string& contentType,
                                std::ostream* out, std::istream& in, std::uint64_t size,
                                const HeaderList& headers = {}, long* status = nullptr) = 0;

  // POST of a file's contents. Throws std::out_of_range("Data to POST is too large") for a
  // file of 4 GiB or more and boost::filesystem::filesystem_error for a missing file.
  virtual HttpResult PostFile(const std::string& url, const std::string& contentType,
                              std::ostream* out, const boost::filesystem::path& file,
                              const HeaderList& headers = {}, long* status = nullptr);

  // POST of a string body (may be empty: Content-Length 0, no body bytes).
  virtual HttpResult PostString(const std::string& url, const std::string& contentType,
                                std::ostream* out, const std::string& body,
                                const HeaderList& headers = {}, long* status = nullptr) = 0;

  // POST of any request body; `progress` sees the upload and then the response.
  virtual HttpResult Post(const std::string& url, const std::string& contentType, std::ostream* out,
                          PostBody& body, const HeaderList& headers = {},
                          ProgressCallback progress = nullptr, void* context = nullptr,
                          long* status = nullptr) = 0;

  // multipart/form-data upload of the fields, then the files. `status` is accepted but
  // never written.
  virtual HttpResult PostMultipart(const std::string& url, std::ostream* out,
                                   const FileList& files = {}, const FieldList& fields = {},
                                   const HeaderList& headers = {},
                                   ProgressCallback progress = nullptr, void* context = nullptr,
                                   long* status = nullptr) = 0;

  // A description of the last failure with this result code; empty when there is none
  // (always empty for NotAllowed, so callers can substitute their own text).
  virtual std::string ErrorText(HttpResult result) = 0;

  // A header of the answer that the current (or last) Get reads, found by name without
  // regard to case; empty when the answer has none. Known from the answer's first body byte
  // or progress call on. None are kept unless an implementation says so.
  virtual std::string ResponseHeader(const std::string& name) const;

  // True when the URL's scheme://host[:port] is on the allow-list; logs a warning
  // otherwise.
  bool IsCommunicationAllowed(std::string url);

  // Credentials for the Basic authorization line of POSTs; empty on creation.
  void SetBasicCredentials(std::string userName, std::string password);

 protected:
  // Uses the deployment's built-in allow-list.
  IHttpHelper();
  // Uses the given digests (32 upper-case hex digits each) instead; for test rigs.
  explicit IHttpHelper(std::vector<std::string> allowList);

  LogSource log_;
  const std::vector<std::string> allowList_;
  std::string userName_;
  std::string password_;
};

using HttpHelperPtr = std::shared_ptr<IHttpHelper>;

// A new helper for the platform this client runs on (libcurl), with the deployment's
// allow-list and CA file.
HttpHelperPtr CreateHttpHelper();

}  // namespace hopwell
