#include "net/IHttpHelper.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <ostream>
#include <stdexcept>

#include <boost/filesystem/operations.hpp>

#include "Deployment.h"
#include "net/FilePostBody.h"
#include "net/UrlTools.h"

namespace hopwell {
namespace {

std::vector<std::string> BuiltInAllowList() {
  return {deployment::kAllowListDigests.begin(), deployment::kAllowListDigests.end()};
}

}  // namespace

std::ostream& operator<<(std::ostream& out, HttpResult result) {
  return out << static_cast<int>(result);
}

IHttpHelper::IHttpHelper() : allowList_(BuiltInAllowList()) {}

IHttpHelper::IHttpHelper(std::vector<std::string> allowList) : allowList_(std::move(allowList)) {}

std::string IHttpHelper::ResponseHeader(const std::string&) const {
  return {};
}

void IHttpHelper::SetBasicCredentials(std::string userName, std::string password) {
  userName_ = std::move(userName);
  password_ = std::move(password);
}

bool IHttpHelper::IsCommunicationAllowed(std::string url) {
  std::transform(url.begin(), url.end(), url.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });

  std::size_t hostOffset = std::string::npos;
  if (url.find("http://") != std::string::npos) {
    hostOffset = 7;
  } else if (url.find("https://") != std::string::npos) {
    hostOffset = 8;
  }
  if (hostOffset != std::string::npos && hostOffset <= url.size()) {
    const std::size_t slash = url.find('/', hostOffset);
    const std::string key = url.substr(0, slash);
    const std::string digest = Md5Hex(key);
    // Whole-digest equality: an entry that is only a prefix (or empty) must never match.
    if (!digest.empty() && std::find(allowList_.begin(), allowList_.end(), digest) !=
                               allowList_.end()) {
      return true;
    }
  }
  HW_LOG(log_, warning) << "Communication is not allowed (" << url << ")";
  return false;
}

HttpResult IHttpHelper::PostFile(const std::string& url, const std::string& contentType,
                                 std::ostream* out, const boost::filesystem::path& file,
                                 const HeaderList& headers, long* status) {
  if (!IsCommunicationAllowed(url)) return HttpResult::NotAllowed;
  const std::uintmax_t size = boost::filesystem::file_size(file);  // throws when missing
  if (size > std::numeric_limits<std::uint32_t>::max()) {
    throw std::out_of_range("Data to POST is too large");
  }
  FilePostBody body(file);
  return Post(url, contentType, out, body, headers, nullptr, nullptr, status);
}

}  // namespace hopwell
