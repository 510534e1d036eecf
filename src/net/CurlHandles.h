#pragma once

#include <memory>
#include <string>

#include <curl/curl.h>

#include "base/Logging.h"

namespace hopwell {

// Scoped libcurl handles: each closes its handle on every path.
struct CurlEasyCleanup {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using CurlEasyHandle = std::unique_ptr<CURL, CurlEasyCleanup>;

struct CurlSlistCleanup {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using CurlSlistHandle = std::unique_ptr<curl_slist, CurlSlistCleanup>;

struct CurlUrlCleanup {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
using CurlUrlHandle = std::unique_ptr<CURLU, CurlUrlCleanup>;

struct CurlMultiCleanup {
  void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
using CurlMultiHandle = std::unique_ptr<CURLM, CurlMultiCleanup>;

// libcurl's process-wide set-up, done once before the first handle is made.
bool EnsureCurlInitialized();

// Logs "Logging error: 0x" + the code as eight hex digits, then the library's description
// and " (Error Code: <hex>)", then the transfer's detail text, at level error. Returns the
// description (detail preferred) for ErrorText.
std::string LogTransferError(LogSource& log, unsigned code, const std::string& description,
                             const std::string& detail);

}  // namespace hopwell
