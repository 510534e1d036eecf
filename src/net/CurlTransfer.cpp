#include "net/CurlTransfer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <string_view>

#include <fmt/format.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "base/CancelToken.h"

namespace hopwell {
namespace {

// Response bytes libcurl hands over per call; the reader re-cuts them into 8192-byte pieces.
constexpr long kReceiveBufferSize = 256 * 1024;
// Request bytes libcurl asks for per call and sends at once: eight of the body's 64 KiB
// pieces, so that a large POST makes an eighth of the sends and polls (a POST of 1 GiB took
// a fifth less time on loopback than with one piece per send).
constexpr long kUploadBufferSize = 512 * 1024;

std::string UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) return {};
  std::string value(text);
  curl_free(text);
  return value;
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

bool SplitUrl(const std::string& url, UrlParts& parts, std::string& error) {
  CurlUrlHandle handle(curl_url());
  if (!handle) {
    error = "Out of memory";
    return false;
  }
  const CURLUcode code = curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0);
  if (code != CURLUE_OK) {
    error = curl_url_strerror(code);
    return false;
  }
  const std::string scheme = UrlPart(handle.get(), CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https") {
    error = "Unsupported scheme " + scheme;
    return false;
  }
  parts.secure = scheme == "https";
  parts.host = UrlPart(handle.get(), CURLUPART_HOST);
  parts.port = UrlPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  parts.pathAndQuery = UrlPart(handle.get(), CURLUPART_PATH);
  const std::string query = UrlPart(handle.get(), CURLUPART_QUERY);
  if (!query.empty()) parts.pathAndQuery += "?" + query;
  return true;
}

CurlTransfer::CurlTransfer(std::ostream* out, ProgressCallback progress, void* context,
                           const TransferLimits& limits)
    : limits_(limits), reader_(out, progress, context, limits.memoryAnswer) {}

bool CurlTransfer::Open(const std::string& userAgent, const std::string& caFile, CURLSH* pool) {
  if (!EnsureCurlInitialized()) return false;
  handle_.reset(curl_easy_init());
  if (!handle_) return false;
  CURL* h = handle_.get();
  bool ok = curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer_) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
  // Redirects are followed by the helper, which checks each target first.
  ok = ok && curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
  // The caller's headers (the API token among them) never go to a proxy.
  ok = ok && curl_easy_setopt(h, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferSize) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnWrite) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, this) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_HEADERDATA, this) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                              static_cast<long>(limits_.connect.count())) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L) == CURLE_OK;
  // The idle limit: the connect limit covers everything before the pre-request call.
  ok = ok && curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &CurlTransfer::OnConnected) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_PREREQDATA, this) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::OnProgress) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFODATA, this) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
  caFile_ = caFile;
  if (ok && !caFile_.empty()) {
    ok = curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &CurlTransfer::OnSslContext) == CURLE_OK &&
         curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, this) == CURLE_OK;
  }
  if (ok && pool != nullptr) ok = curl_easy_setopt(h, CURLOPT_SHARE, pool) == CURLE_OK;
  if (!ok) handle_.reset();
  return ok;
}

CURLcode CurlTransfer::OnSslContext(CURL*, void* sslContext, void* self) {
  // Adds the certificates of the CA file to those curl loaded from the system's store, for
  // each new TLS connection.
  auto* transfer = static_cast<CurlTransfer*>(self);
  if (SSL_CTX_load_verify_locations(static_cast<SSL_CTX*>(sslContext), transfer->caFile_.c_str(),
                                    nullptr) == 1) {
    return CURLE_OK;
  }
  ERR_clear_error();
  transfer->caFileRefused_ = true;
  return CURLE_SSL_CACERT_BADFILE;
}

std::string CurlTransfer::ErrorDetail() const {
  // curl only knows that the callback failed.
  if (caFileRefused_) return "The CA file " + caFile_ + " holds no readable PEM certificate";
  return errorBuffer_;
}

bool CurlTransfer::SetHeaders(const std::vector<StringPair>& headers,
                              const std::vector<std::string>& extraLines) {
  CurlSlistHandle list;
  auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) return false;
    list.release();
    list.reset(grown);
    return true;
  };
  for (const auto& [name, value] : headers) {
    if (name.empty() || HasLineBreak(name) || HasLineBreak(value) ||
        name.find(':') != std::string::npos) {
      return false;
    }
    // libcurl drops "Name:" with nothing after the colon; "Name;" is its way to send it.
    if (!append(value.empty() ? name + ";" : name + ":" + value)) return false;
  }
  for (const std::string& line : extraLines) {
    if (HasLineBreak(line) || !append(line)) return false;
  }
  headers_ = std::move(list);
  return curl_easy_setopt(handle_.get(), CURLOPT_HTTPHEADER, headers_.get()) == CURLE_OK;
}

void CurlTransfer::SetUpload(UploadSource& source) {
  upload_ = &source;
  CURL* h = handle_.get();
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_READFUNCTION, &CurlTransfer::OnRead);
  curl_easy_setopt(h, CURLOPT_READDATA, this);
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(source.Size()));
  curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
}

void CurlTransfer::SetProxyCredentials(const std::string& user, const std::string& password) {
  curl_easy_setopt(handle_.get(), CURLOPT_PROXYUSERNAME, user.c_str());
  curl_easy_setopt(handle_.get(), CURLOPT_PROXYPASSWORD, password.c_str());
}

CURLcode CurlTransfer::Perform(const std::string& url) {
  started_ = false;
  answered_ = false;
  hasLocation_ = false;
  callbackFailed_ = false;
  connected_ = false;
  idleCut_ = false;
  cancelled_ = false;
  downloaded_ = 0;
  uploaded_ = 0;
  disposition_ = Disposition::Read;
  errorBuffer_[0] = '\0';
  const CURLcode set = curl_easy_setopt(handle_.get(), CURLOPT_URL, url.c_str());
  if (set != CURLE_OK) return set;
  CURLcode code = RunUntilDoneOrCancelled();
  if (cancelled_ && code == CURLE_ABORTED_BY_CALLBACK) {
    std::snprintf(errorBuffer_, sizeof errorBuffer_, "%s", "Cancelled");
  } else if (idleCut_ && code == CURLE_ABORTED_BY_CALLBACK) {
    // Reported like libcurl's own time-outs, so the log line reads the same.
    code = CURLE_OPERATION_TIMEDOUT;
    const std::string detail =
        fmt::format("Operation timed out: no byte moved in either direction for {} milliseconds",
                    limits_.idle.count());
    detail.copy(errorBuffer_, sizeof errorBuffer_ - 1);
    errorBuffer_[std::min(detail.size(), sizeof errorBuffer_ - 1)] = '\0';
  }
  if (code == CURLE_OK && !callbackFailed_) {
    try {
      StartResponse();
    } catch (const std::exception&) {
      callbackFailed_ = true;
    }
  }
  return callbackFailed_ && code == CURLE_OK ? CURLE_ABORTED_BY_CALLBACK : code;
}

CURLcode CurlTransfer::RunUntilDoneOrCancelled() {
  // libcurl asks the progress function about once a second while no byte moves; its own
  // poll, woken every kCancelPoll, sees a cancel in time also then.
  CurlMultiHandle multi(curl_multi_init());
  if (!multi) return CURLE_OUT_OF_MEMORY;
  if (curl_multi_add_handle(multi.get(), handle_.get()) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode code = CURLE_OK;
  for (int running = 1;;) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      code = CURLE_RECV_ERROR;
      break;
    }
    if (running == 0) {
      int left = 0;
      const CURLMsg* message = curl_multi_info_read(multi.get(), &left);
      code = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                                : CURLE_RECV_ERROR;
      break;
    }
    if (CancelRequestedHere()) {
      cancelled_ = true;
      code = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(kCancelPoll.count()), nullptr) !=
        CURLM_OK) {
      code = CURLE_RECV_ERROR;
      break;
    }
  }
  curl_multi_remove_handle(multi.get(), handle_.get());
  return code;
}

void CurlTransfer::StartResponse() {
  if (started_) return;
  started_ = true;
  disposition_ = hook_ ? hook_() : Disposition::Read;
  if (disposition_ != Disposition::Read) return;
  curl_off_t length = -1;
  if (curl_easy_getinfo(handle_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
    length = -1;
  }
  reader_.Begin(length);
}

long CurlTransfer::ResponseCode() const {
  long code = 0;
  curl_easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &code);
  return code;
}

long CurlTransfer::ConnectCode() const {
  long code = 0;
  curl_easy_getinfo(handle_.get(), CURLINFO_HTTP_CONNECTCODE, &code);
  return code;
}

std::string CurlTransfer::RedirectUrl() const {
  char* url = nullptr;
  if (curl_easy_getinfo(handle_.get(), CURLINFO_REDIRECT_URL, &url) != CURLE_OK || url == nullptr) {
    return {};
  }
  return url;
}

std::size_t CurlTransfer::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
  auto& transfer = *static_cast<CurlTransfer*>(self);
  const std::size_t n = size * count;
  // Nothing may unwind through libcurl's C frames: a throw ends the transfer instead.
  try {
    transfer.StartResponse();
    switch (transfer.disposition_) {
      case Disposition::Discard:
        return n;
      case Disposition::Stop:
        return 0;
      case Disposition::Read:
        break;
    }
    return transfer.reader_.Append(data, n) ? n : 0;
  } catch (const std::exception&) {
    transfer.callbackFailed_ = true;
    return 0;
  }
}

std::size_t CurlTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto& transfer = *static_cast<CurlTransfer*>(self);
  const std::size_t n = size * count;
  transfer.answered_ = true;
  transfer.Moved();
  const std::string_view line(data, n);
  auto startsWith = [&line](std::string_view prefix) {
    return line.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), line.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) ==
                    std::tolower(static_cast<unsigned char>(b));
           });
  };
  // libcurl resolves the redirect target only once the transfer is over; whether there is
  // one must be known when the body starts.
  if (startsWith("HTTP/")) transfer.hasLocation_ = false;
  if (startsWith("Location:")) transfer.hasLocation_ = true;
  if (transfer.responseHeaders_ != nullptr) transfer.KeepHeaderLine(line, startsWith("HTTP/"));
  return n;
}

void CurlTransfer::KeepHeaderLine(std::string_view line, bool statusLine) {
  auto& kept = *responseHeaders_;
  if (statusLine) {
    kept.clear();
    return;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return;
  auto trim = [](std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return std::string();
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
  };
  kept.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
}

std::size_t CurlTransfer::OnRead(char* buffer, std::size_t size, std::size_t count, void* self) {
  auto& transfer = *static_cast<CurlTransfer*>(self);
  try {
    const std::size_t n = transfer.upload_->Fill(buffer, size * count);
    if (transfer.upload_->Failed()) return CURL_READFUNC_ABORT;
    return n;
  } catch (const std::exception&) {
    transfer.callbackFailed_ = true;
    return CURL_READFUNC_ABORT;
  }
}

int CurlTransfer::OnConnected(void* self, char*, char*, int, int) {
  auto& transfer = *static_cast<CurlTransfer*>(self);
  transfer.connected_ = true;
  transfer.Moved();
  return CURL_PREREQFUNC_OK;
}

int CurlTransfer::OnProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                             curl_off_t uploaded) {
  auto& transfer = *static_cast<CurlTransfer*>(self);
  // Called at least once a second, also while connecting or waiting for an answer.
  if (CancelRequestedHere()) {
    transfer.cancelled_ = true;
    return 1;
  }
  if (!transfer.connected_) return 0;
  if (downloaded != transfer.downloaded_ || uploaded != transfer.uploaded_) {
    transfer.downloaded_ = downloaded;
    transfer.uploaded_ = uploaded;
    transfer.Moved();
    return 0;
  }
  if (std::chrono::steady_clock::now() - transfer.lastMove_ < transfer.limits_.idle) return 0;
  transfer.idleCut_ = true;
  return 1;
}

}  // namespace hopwell
