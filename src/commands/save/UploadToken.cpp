#include <sstream>

#include <boost/format.hpp>

#include "commands/save/JsonAnswer.h"
#include "commands/save/SaveCmd.h"
#include "net/UrlTools.h"

namespace hopwell {

bool SaveCmd::VerifyUploadToken(const std::string& platformUrl, const std::string& token) {
  const std::string url = JoinUrl(platformUrl, "/api/v2/ext/token/can_upload");
  std::ostringstream body;
  long status = 0;
  const HttpResult result =
      http_->Get(url, &body, nullptr, nullptr, {}, {MakeTokenHeader(token)}, &status);
  if (result != HttpResult::Ok) {
    const std::string text = http_->ErrorText(result);
    job_->JobFailed(boost::format("The chapter token is not valid: %1%") % text);
    HW_LOG(log_, warning) << "  Failed to verify the token for upload: " << text;
    return false;
  }
  if (status >= 400) {
    job_->JobFailed("The document is not checked out, and cannot be saved to the server");
    HW_LOG(log_, warning) << "  Failed to verify the token for upload: HTTP " << status;
    return false;
  }
  // An answer that is not JSON is a refusal like "canUpload" false.
  const auto answer = ParseJsonAnswer(body.str());
  if (answer && answer->get<bool>("canUpload", false)) return true;
  job_->JobFailed("The chapter is not checked out, and can't be uploaded to the server.");
  HW_LOG(log_, info) << "The chapter is not checked out. Response: " << body.str();
  return false;
}

}  // namespace hopwell
