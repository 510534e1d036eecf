#include <sstream>

#include <boost/format.hpp>

#include "commands/save/JsonAnswer.h"
#include "commands/save/SaveCmd.h"
#include "net/PostBody.h"
#include "net/UrlTools.h"

namespace hopwell {

bool SaveCmd::CheckIn(const SaveRequest& request) {
  const std::string json = MakeCheckinJson(request);
  HW_LOG(log_, debug) << json;
  const std::string url = JoinUrl(request.platformUrl, "/api/v2/ext/checkin");
  std::ostringstream body;
  StringPostData data(json);
  const HttpResult result = http_->Post(url, "application/json", &body, data,
                                        {MakeTokenHeader(request.token)}, nullptr, nullptr);
  if (result != HttpResult::Ok) {
    const std::string text = http_->ErrorText(result);
    job_->JobFailed(boost::format("Cannot upload files: %1%") % text);
    HW_LOG(log_, warning) << "  Cannot upload files: " << text;
    return false;
  }
  // An answer that is not JSON is a refusal without a message.
  const auto answer = ParseJsonAnswer(body.str());
  const std::string status = answer ? answer->get<std::string>("status", "") : "";
  if (status == "CHECKIN_FILES_SUCCESS") {
    job_->AddMessage("Chapter was successfully checked in");
    job_->SetProgress(100);
    job_->SetState(JobState::Succeeded);
    return true;
  }
  const std::string message =
      answer ? answer->get<std::string>("message", "An unkown error occurred during checkin")
             : "An unkown error occurred during checkin";
  HW_LOG(log_, warning) << "    Error when saving to server:\n" << status << ": " << message;
  job_->JobFailed(message);
  HW_LOG(log_, warning) << "    Save failed:\n" << body.str();
  job_->JobFailed("Server failed to check in the file.");
  return false;
}

}  // namespace hopwell
