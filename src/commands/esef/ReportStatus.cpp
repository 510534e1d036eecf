// The lock and files-downloaded requests of the esef command.
#include <sstream>

#include "commands/esef/EsefCmd.h"
#include "net/ResponseStatus.h"
#include "net/UrlTools.h"

namespace hopwell {

bool EsefCmd::CheckResponse(HttpResult result, long status, const std::string& text) {
  if (result != HttpResult::Ok) {
    HW_LOG(log_, error) << "    " << text << ": " << result;
    return false;
  }
  if (status < 400) return true;
  HW_LOG(log_, error) << "    " << text << ": " << status;
  return false;
}

bool EsefCmd::LockReport() {
  return SendStatusRequest(downloadParameters_->LockUrl(), 0);
}

bool EsefCmd::MarkReportDownloaded() {
  return SendStatusRequest(downloadParameters_->FilesDownloadedUrl(), 1);
}

bool EsefCmd::SendStatusRequest(const std::string& url, int action) {
  std::ostringstream text;
  long status = 0;
  const HttpResult result =
      http_->Get(url, &text, nullptr, nullptr, {}, {MakeTokenHeader(parameters_.token)}, &status);
  if (!CheckResponse(result, status, ActionFailureText(action))) return false;
  // An answer that is not JSON, or whose "status" is not "ok", fails the step.
  if (ResponseStatusIsOk(text.str())) return true;
  HW_LOG(log_, error) << "    " << ActionFailureText(action) << ": " << text.str();
  return false;
}

}  // namespace hopwell
