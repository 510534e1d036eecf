#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/CurlHandles.h"
#include "net/ResponseReader.h"
#include "net/TransferLimits.h"
#include "net/UploadSource.h"

namespace hopwell {

// The pieces of a request URL the log lines show.
struct UrlParts {
  std::string host;
  std::string port;
  std::string pathAndQuery;
  bool secure = false;
};

// Splits an absolute http(s) URL; false (and `error` set) when it cannot be split.
bool SplitUrl(const std::string& url, UrlParts& parts, std::string& error);

// One libcurl easy handle driving one request (and its redirects and retries): the
// request options every operation shares, the header block, the upload body, and the
// response body, which goes to a ResponseReader unless the response hook says otherwise.
// Connecting is bounded by the connect limit; once connected, a transfer that moves no byte
// in either direction for the idle limit ends with CURLE_OPERATION_TIMEDOUT. A cancel request
// of the thread's work (CancelRequestedHere) ends it within kCancelPoll, also while the
// server holds the transfer back, with CURLE_ABORTED_BY_CALLBACK and "Cancelled" as its
// detail.
class CurlTransfer {
 public:
  // What to do with a response whose body is about to start.
  enum class Disposition { Read, Discard, Stop };
  using ResponseHook = std::function<Disposition()>;

  // How long the transfer waits for its sockets before it looks at the cancel request again.
  static constexpr std::chrono::milliseconds kCancelPoll{50};

  CurlTransfer(std::ostream* out, ProgressCallback progress, void* context,
               const TransferLimits& limits);

  // Makes the handle; false when libcurl cannot provide one. TLS peers are checked against
  // the system's store and, when `caFile` names one, the certificates of that PEM file. With
  // a pool, the connection is taken from it when one to the same host is idle, and goes back
  // to it afterwards.
  bool Open(const std::string& userAgent, const std::string& caFile, CURLSH* pool = nullptr);
  // Header lines "Name:value" in order; false when a line would break the header block.
  bool SetHeaders(const std::vector<StringPair>& headers,
                  const std::vector<std::string>& extraLines);
  void SetUpload(UploadSource& source);
  void SetProxyCredentials(const std::string& user, const std::string& password);
  void SetResponseHook(ResponseHook hook) { hook_ = std::move(hook); }
  // The header lines of each answer go to `into` as (name, value), replacing those of the
  // answer before (a redirect, a 407).
  void KeepResponseHeaders(std::vector<StringPair>* into) { responseHeaders_ = into; }

  CURLcode Perform(const std::string& url);

  // Runs the hook for a response that had no body bytes; once per Perform.
  void StartResponse();

  long ResponseCode() const;
  long ConnectCode() const;
  // The resolved target of a redirect; known once Perform has returned.
  std::string RedirectUrl() const;
  // True when the current response carries a Location header.
  bool HasLocation() const { return hasLocation_; }
  std::string ErrorDetail() const;
  // True once the server's answer started (any response header line arrived).
  bool Answered() const { return answered_; }
  Disposition LastDisposition() const { return disposition_; }
  // True when one of this request's own steps threw (front end, output, body source).
  bool CallbackFailed() const { return callbackFailed_; }
  // True when the last Perform ended because the thread's work was cancelled.
  bool Cancelled() const { return cancelled_; }
  ResponseReader& Reader() { return reader_; }

 private:
  static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* self);
  static int OnConnected(void* self, char*, char*, int, int);
  static CURLcode OnSslContext(CURL*, void* sslContext, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                        curl_off_t uploaded);
  void Moved() { lastMove_ = std::chrono::steady_clock::now(); }
  // Drives the handle to its end, or until the thread's work is cancelled.
  CURLcode RunUntilDoneOrCancelled();
  void KeepHeaderLine(std::string_view line, bool statusLine);

  TransferLimits limits_;
  std::string caFile_;
  bool caFileRefused_ = false;
  CurlEasyHandle handle_;
  CurlSlistHandle headers_;
  ResponseReader reader_;
  UploadSource* upload_ = nullptr;
  ResponseHook hook_;
  std::vector<StringPair>* responseHeaders_ = nullptr;
  Disposition disposition_ = Disposition::Read;
  bool started_ = false;
  bool answered_ = false;
  bool hasLocation_ = false;
  bool callbackFailed_ = false;
  bool connected_ = false;
  bool idleCut_ = false;
  bool cancelled_ = false;
  curl_off_t downloaded_ = 0;
  curl_off_t uploaded_ = 0;
  std::chrono::steady_clock::time_point lastMove_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

}  // namespace hopwell
