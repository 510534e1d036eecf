#pragma once

#include <string>
#include <vector>

#include "base/Logging.h"
#include "net/ConnectionPool.h"
#include "net/CurlTransfer.h"
#include "net/IHttpHelper.h"
#include "net/TransferLimits.h"
#include "net/UploadSource.h"

namespace hopwell {

// IHttpHelper on libcurl. Each call makes its own easy handle and releases it before it
// returns; the connection stays in the helper's pool for its next request to that host. TLS peer
// and host verification are always on, against the system's store and the CA file of
// TrustedCaFile when it exists. Proxies come from http_proxy / https_proxy / no_proxy; a 407
// asks the front end for credentials.
class HttpHelperCurl : public IHttpHelper {
 public:
  static constexpr int kMaxRedirects = 10;

  // The deployment's allow-list, and TrustedCaFile.
  HttpHelperCurl();
  // Another allow-list (digests) and CA file (trusted besides the system's store), for test
  // rigs.
  HttpHelperCurl(std::vector<std::string> allowList, std::string caFile);
  ~HttpHelperCurl() override = default;

  void Prepare() override;
  HttpResult Get(const std::string& url, std::ostream* out, ProgressCallback progress,
                 void* context, const QueryList& query, const HeaderList& headers,
                 long* status) override;
  HttpResult PostStream(const std::string& url, const std::string& contentType, std::ostream* out,
                        std::istream& in, std::uint64_t size, const HeaderList& headers,
                        long* status) override;
  HttpResult PostString(const std::string& url, const std::string& contentType, std::ostream* out,
                        const std::string& body, const HeaderList& headers, long* status) override;
  HttpResult Post(const std::string& url, const std::string& contentType, std::ostream* out,
                  PostBody& body, const HeaderList& headers, ProgressCallback progress,
                  void* context, long* status) override;
  HttpResult PostMultipart(const std::string& url, std::ostream* out, const FileList& files,
                           const FieldList& fields, const HeaderList& headers,
                           ProgressCallback progress, void* context, long* status) override;
  std::string ErrorText(HttpResult result) override;
  // Kept for Get.
  std::string ResponseHeader(const std::string& name) const override;

  // Replaces the limits of the transfers that follow (DefaultTransferLimits at first).
  void SetTransferLimits(const TransferLimits& limits) { limits_ = limits; }

 private:
  // Allow-list check, final URL, split, handle; Ok or the result to return.
  HttpResult OpenRequest(const char* verb, const std::string& url, const QueryList& query,
                         CurlTransfer& transfer, std::string& finalUrl);
  // Sends the header block and the body, reads the answer.
  HttpResult SendUpload(CurlTransfer& transfer, const std::string& finalUrl,
                        const HeaderList& headers, const std::vector<std::string>& lines,
                        UploadSource& upload, bool reportStatus, long* status);
  // A 407: asks the front end; true when the request should be sent again.
  bool AskForProxyCredentials(const std::string& url, CurlTransfer& transfer);
  HttpResult Fail(HttpResult result, const std::string& text);
  // A CA file that is not there is dropped: the system's store alone is trusted then.
  void KeepCaFileIfPresent();
  std::string LogCurlError(CURLcode code, CurlTransfer& transfer);
  // The answer outgrew the memory limit: logs it and fails the request.
  HttpResult FailTooLarge(CurlTransfer& transfer);

  LogSource log_;
  ConnectionPool pool_;
  TransferLimits limits_ = DefaultTransferLimits();
  std::string caFile_;
  std::string proxyUser_;
  std::string proxyPassword_;
  HttpResult lastResult_ = HttpResult::Ok;
  std::string lastErrorText_;
  std::vector<StringPair> responseHeaders_;
};

}  // namespace hopwell
