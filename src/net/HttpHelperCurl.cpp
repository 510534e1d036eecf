#include "net/HttpHelperCurl.h"

#include <exception>
#include <limits>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>

#include "Version.h"
#include "base/CancelToken.h"
#include "base/FrontEnd.h"
#include "net/MultipartBody.h"
#include "net/PostBody.h"
#include "net/PostBodyUpload.h"
#include "net/TrustedCaFile.h"
#include "net/UrlTools.h"

namespace hopwell {
namespace {

std::string UserAgent() {
  return std::string("Kelvory Hopwell/") + kProductVersion;
}

bool IsRedirect(long code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

std::string ContentTypeLine(const std::string& contentType) {
  // libcurl would drop a header with an empty value; "Name;" sends "Name:".
  return contentType.empty() ? "Content-Type;" : "Content-Type: " + contentType;
}

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

HttpHelperPtr CreateHttpHelper() {
  return std::make_shared<HttpHelperCurl>();
}

HttpHelperCurl::HttpHelperCurl() : caFile_(TrustedCaFile()) {
  HW_LOG(log_, info) << "Creating HttpHelperWin";
  KeepCaFileIfPresent();
}

HttpHelperCurl::HttpHelperCurl(std::vector<std::string> allowList, std::string caFile)
    : IHttpHelper(std::move(allowList)), caFile_(std::move(caFile)) {
  HW_LOG(log_, info) << "Creating HttpHelperWin";
  KeepCaFileIfPresent();
}

void HttpHelperCurl::KeepCaFileIfPresent() {
  if (caFile_.empty()) return;
  boost::system::error_code error;
  if (boost::filesystem::is_regular_file(caFile_, error)) return;
  HW_LOG(log_, info) << "  No CA file at " << boost::filesystem::path(caFile_)
                     << ": only the system's certificate store is trusted";
  caFile_.clear();
}

void HttpHelperCurl::Prepare() {}

std::string HttpHelperCurl::ErrorText(HttpResult result) {
  // Empty for a refused URL, so callers show their own text for it.
  if (result == HttpResult::NotAllowed || result != lastResult_) return {};
  return lastErrorText_;
}

std::string HttpHelperCurl::ResponseHeader(const std::string& name) const {
  for (const auto& [key, value] : responseHeaders_) {
    if (boost::algorithm::iequals(key, name)) return value;
  }
  return {};
}

HttpResult HttpHelperCurl::Fail(HttpResult result, const std::string& text) {
  lastResult_ = result;
  lastErrorText_ = text;
  return result;
}

std::string HttpHelperCurl::LogCurlError(CURLcode code, CurlTransfer& transfer) {
  return LogTransferError(log_, static_cast<unsigned>(code), curl_easy_strerror(code),
                          transfer.ErrorDetail());
}

HttpResult HttpHelperCurl::FailTooLarge(CurlTransfer& transfer) {
  transfer.Reader().Flush();
  HW_LOG(log_, error) << "The answer is too large: more than " << transfer.Reader().MemoryLimit()
                      << " bytes";
  HW_LOG(log_, error) << "Failed to read request";
  return Fail(HttpResult::ReadFailed, "The answer is too large");
}

HttpResult HttpHelperCurl::OpenRequest(const char* verb, const std::string& url,
                                       const QueryList& query, CurlTransfer& transfer,
                                       std::string& finalUrl) {
  if (!IsCommunicationAllowed(url)) return Fail(HttpResult::NotAllowed, "");
  if (CancelRequestedHere()) {
    // Nothing is sent for work the user has stopped.
    HW_LOG(log_, warning) << "Not sending " << verb << " " << url << ": the job was cancelled";
    const bool get = std::string_view(verb) == "GET";
    return Fail(get ? HttpResult::SendFailed : HttpResult::WriteFailed, "Cancelled");
  }
  finalUrl = BuildUrl(url, query);
  if (std::string_view(verb) == "GET") HW_LOG(log_, info) << "Cracking URL " << finalUrl;

  UrlParts parts;
  std::string error;
  if (!SplitUrl(finalUrl, parts, error)) {
    LogTransferError(log_, 0, "", "Cannot split the URL: " + error);
    return Fail(HttpResult::NotAllowed, "");
  }
  HW_LOG(log_, info) << "InternetOpen";
  if (!transfer.Open(UserAgent(), caFile_, pool_.Handle())) {
    HW_LOG(log_, error) << "Couldn't call InternetOpen";
    return Fail(HttpResult::OpenRequestFailed, "Could not create a transfer handle");
  }
  if (!proxyUser_.empty()) transfer.SetProxyCredentials(proxyUser_, proxyPassword_);
  HW_LOG(log_, info) << "InternetConnect: " << parts.host << ":" << parts.port;
  HW_LOG(log_, info) << "HttpOpenRequest: " << verb << " " << parts.pathAndQuery;
  return HttpResult::Ok;
}

bool HttpHelperCurl::AskForProxyCredentials(const std::string& url, CurlTransfer& transfer) {
  // No question for work the user stopped.
  if (CancelRequestedHere()) return false;
  ProxyCredentials credentials{proxyUser_, proxyPassword_};
  ProxyAnswer answer = ProxyAnswer::Other;
  try {
    answer = FrontEnd()->AskProxyCredentials(url, credentials);
  } catch (const std::exception& error) {
    HW_LOG(log_, error) << "The proxy credentials prompt failed: " << error.what();
  }
  switch (answer) {
    case ProxyAnswer::Retry:
      HW_LOG(log_, info) << "Retrying...";
      proxyUser_ = credentials.user;
      proxyPassword_ = credentials.password;
      transfer.SetProxyCredentials(proxyUser_, proxyPassword_);
      return true;
    case ProxyAnswer::Cancelled:
      HW_LOG(log_, info) << "User cancelled the InternetErrorDlg";
      return false;
    case ProxyAnswer::Other:
      return false;
  }
  return false;
}

HttpResult HttpHelperCurl::Get(const std::string& url, std::ostream* out, ProgressCallback progress,
                               void* context, const QueryList& query, const HeaderList& headers,
                               long* status) {
  CurlTransfer transfer(out, progress, context, limits_);
  responseHeaders_.clear();
  transfer.KeepResponseHeaders(&responseHeaders_);
  std::string requestUrl;
  if (const HttpResult opened = OpenRequest("GET", url, query, transfer, requestUrl);
      opened != HttpResult::Ok) {
    return opened;
  }
  if (!transfer.SetHeaders(headers, {})) {
    LogTransferError(log_, 0, "", "The header list cannot be attached");
    return Fail(HttpResult::AddHeadersFailed, "Invalid request header");
  }

  enum class Next { Finish, Retry, Follow } next = Next::Finish;
  int redirects = 0;
  transfer.SetResponseHook([&] {
    const long code = transfer.ResponseCode();
    HW_LOG(log_, info) << "HTTP_QUERY_STATUS_CODE: " << code;
    if (status != nullptr) *status = code;
    next = Next::Finish;
    if (IsRedirect(code) && redirects < kMaxRedirects && transfer.HasLocation()) {
      next = Next::Follow;
      return CurlTransfer::Disposition::Discard;
    }
    if (code == 407) {
      if (AskForProxyCredentials(requestUrl, transfer)) {
        next = Next::Retry;
        return CurlTransfer::Disposition::Stop;
      }
    } else if (code != 200) {
      HW_LOG(log_, info) << "Don't know how to handle: " << code;
    }
    return CurlTransfer::Disposition::Read;
  });

  for (;;) {
    HW_LOG(log_, info) << "Sending request";
    HW_LOG(log_, info) << "HttpSendRequest";
    const CURLcode code = transfer.Perform(requestUrl);
    if (next == Next::Retry) continue;
    if (code != CURLE_OK) {
      if (transfer.Reader().TooLarge()) return FailTooLarge(transfer);
      if (transfer.Reader().OutputFailed() || transfer.CallbackFailed()) {
        transfer.Reader().Flush();
        HW_LOG(log_, error) << "Failed to read request";
        return Fail(HttpResult::ReadFailed, "Could not write the response");
      }
      if (transfer.Answered()) {
        transfer.Reader().Flush();
        const std::string text = LogCurlError(code, transfer);
        HW_LOG(log_, error) << "Failed to read request";
        return Fail(HttpResult::ReadFailed, text);
      }
      if (transfer.ConnectCode() == 407) {
        // The proxy refused the tunnel to an HTTPS host: the same choice as for a 407 answer.
        HW_LOG(log_, info) << "HTTP_QUERY_STATUS_CODE: 407";
        if (status != nullptr) *status = 407;
        if (AskForProxyCredentials(requestUrl, transfer)) continue;
        transfer.Reader().Begin(0);
        transfer.Reader().Finish();
        return HttpResult::Ok;
      }
      const std::string text = LogCurlError(code, transfer);
      HW_LOG(log_, error) << "HttpSendRequest FAILED";
      LogCurlError(code, transfer);
      return Fail(HttpResult::SendFailed, text);
    }
    if (next == Next::Follow) {
      const std::string target = transfer.RedirectUrl();
      if (target.empty()) {
        LogTransferError(log_, 0, "", "The redirect has no usable target");
        return Fail(HttpResult::ReadFailed, "Invalid redirect");
      }
      if (!IsCommunicationAllowed(target)) return Fail(HttpResult::NotAllowed, "");
      HW_LOG(log_, info) << "Redirected to " << target;
      requestUrl = target;
      ++redirects;
      continue;
    }
    if (!transfer.Reader().Finish()) {
      HW_LOG(log_, error) << "Failed to read request";
      return Fail(HttpResult::ReadFailed, "Could not write the response");
    }
    return HttpResult::Ok;
  }
}

HttpResult HttpHelperCurl::SendUpload(CurlTransfer& transfer, const std::string& finalUrl,
                                      const HeaderList& headers,
                                      const std::vector<std::string>& lines, UploadSource& upload,
                                      bool reportStatus, long* status) {
  std::vector<std::string> block = lines;
  block.emplace_back("Expect:");  // the body follows the headers at once
  HW_LOG(log_, info) << "Creating HttpSendRequest";
  if (!transfer.SetHeaders(headers, block)) {
    LogTransferError(log_, 0, "", "The header list cannot be attached");
    return Fail(HttpResult::WriteFailed, "Invalid request header");
  }
  transfer.SetUpload(upload);
  const CURLcode code = transfer.Perform(finalUrl);
  if (upload.Failed() || (transfer.CallbackFailed() && !transfer.Answered())) {
    transfer.Reader().Flush();
    return Fail(HttpResult::WriteFailed, "The request body could not be sent completely");
  }
  if (transfer.Reader().TooLarge()) return FailTooLarge(transfer);
  if (code != CURLE_OK) {
    transfer.Reader().Flush();
    const std::string text = LogCurlError(code, transfer);
    if (!transfer.Answered()) return Fail(HttpResult::WriteFailed, text);
    HW_LOG(log_, error) << "Failed to read request";
    return Fail(HttpResult::ReadFailed, text);
  }
  if (!transfer.Reader().Finish()) {
    HW_LOG(log_, error) << "Failed to read request";
    return Fail(HttpResult::ReadFailed, "Could not write the response");
  }
  if (reportStatus) {
    const long responseCode = transfer.ResponseCode();
    HW_LOG(log_, info) << "HTTP Status Code: " << responseCode;
    if (status != nullptr) *status = responseCode;
  }
  return HttpResult::Ok;
}

HttpResult HttpHelperCurl::Post(const std::string& url, const std::string& contentType,
                                std::ostream* out, PostBody& body, const HeaderList& headers,
                                ProgressCallback progress, void* context, long* status) {
  CurlTransfer transfer(out, progress, context, limits_);
  std::string finalUrl;
  if (const HttpResult opened = OpenRequest("POST", url, {}, transfer, finalUrl);
      opened != HttpResult::Ok) {
    return opened;
  }
  std::vector<std::string> lines{ContentTypeLine(contentType),
                                 "Content-Length: " + std::to_string(body.Size())};
  if (!userName_.empty())
    lines.push_back(WithoutLineEnd(BasicAuthorizationLine(userName_, password_)));
  PostBodyUpload upload(body, progress, context);
  return SendUpload(transfer, finalUrl, headers, lines, upload, true, status);
}

HttpResult HttpHelperCurl::PostStream(const std::string& url, const std::string& contentType,
                                      std::ostream* out, std::istream& in, std::uint64_t size,
                                      const HeaderList& headers, long* status) {
  StreamPostBody body(in, size);
  return Post(url, contentType, out, body, headers, nullptr, nullptr, status);
}

HttpResult HttpHelperCurl::PostString(const std::string& url, const std::string& contentType,
                                      std::ostream* out, const std::string& data,
                                      const HeaderList& headers, long* status) {
  StringPostData body(data);
  return Post(url, contentType, out, body, headers, nullptr, nullptr, status);
}

HttpResult HttpHelperCurl::PostMultipart(const std::string& url, std::ostream* out,
                                         const FileList& files, const FieldList& fields,
                                         const HeaderList& headers, ProgressCallback progress,
                                         void* context, long* /*status: never written*/) {
  CurlTransfer transfer(out, progress, context, limits_);
  std::string finalUrl;
  if (const HttpResult opened = OpenRequest("POST", url, {}, transfer, finalUrl);
      opened != HttpResult::Ok) {
    return opened;
  }
  MultipartBody body(files, fields, progress, context);
  if (body.Size() > std::numeric_limits<std::uint32_t>::max()) {
    HW_LOG(log_, error) << "Post is too large too handle";
    return Fail(HttpResult::SendFailed, "The form is too large to send");
  }
  HW_LOG(log_, info) << "Boundary is " << body.Boundary();
  HW_LOG(log_, info) << "Post size is " << body.Size();
  const std::vector<std::string> lines{
      "Content-Type: multipart/form-data; boundary=\"" + body.Boundary() + "\"",
      "Content-Length: " + std::to_string(body.Size())};
  return SendUpload(transfer, finalUrl, headers, lines, body, false, nullptr);
}

}  // namespace hopwell
