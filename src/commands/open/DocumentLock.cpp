#include "commands/open/DocumentLock.h"

#include <sstream>

#include <boost/format.hpp>

#include "base/CancelToken.h"
#include "commands/open/OpenCmdParameters.h"
#include "net/ResponseStatus.h"
#include "net/UrlTools.h"

namespace hopwell {

bool LockDocument(CommandContext& command, OpenCmdParameters& parameters) {
  const std::string url = parameters.LockUrl();
  HW_LOG(command.log, info) << "    Locking document " << url << "...";
  std::stringstream response;
  const auto send = [&] {
    return command.http.Get(url, &response, nullptr, nullptr, {}, {MakeTokenHeader(command.token)});
  };
  HttpResult result = HttpResult::Ok;
  if (CancelRequestedHere()) {
    result = send();  // refused: nothing is sent for cancelled work
  } else {
    // Once sent, the lock request runs to its answer even when the job is cancelled meanwhile:
    // cut off, it could leave the chapter locked without the command knowing it holds it.
    const CancelScope shield(nullptr);
    result = send();
  }
  if (result != HttpResult::Ok) {
    const std::string text = command.http.ErrorText(result);
    command.job.JobFailed(boost::format("Failed to lock document for edit (%1%)") % text);
    HW_LOG(command.log, warning) << "    Failed to lock document for edit: " << text;
    return false;
  }
  if (response.fail()) {
    command.job.JobFailed("Failed to lock document for edit");
    HW_LOG(command.log, warning) << "    Failed to lock document for edit (response is empty)";
    return false;
  }
  const int first = response.get();
  if (first == '0') {
    HW_LOG(command.log, info) << "    Document locked ok: " << response.str();
    return true;
  }
  // The first line is a code the client does not interpret; the second is the reason. A
  // carriage return before the line feed stays part of it.
  response.clear();
  if (first != std::char_traits<char>::eof()) response.unget();
  std::string line;
  std::string reason;
  std::getline(response, line);
  std::getline(response, reason);
  command.job.JobFailed(boost::format("Failed to lock document for edit: %1%") % reason);
  HW_LOG(command.log, warning) << "    Failed to lock document for edit: " << reason;
  return false;
}

void UnlockDocument(CommandContext& command, OpenCmdParameters& parameters) {
  // Releasing the lock is how a cancelled open ends: it is sent whatever the user asked.
  const CancelScope shield(nullptr);
  try {
    const std::string url = parameters.UnlockUrl();
    if (url.empty()) {
      HW_LOG(command.log, warning) << "No unlockurl?";
      return;
    }
    HW_LOG(command.log, info) << "Unlocking document...";
    std::stringstream response;
    long status = 0;
    const HttpResult result = command.http.Get(url, &response, nullptr, nullptr, {},
                                               {MakeTokenHeader(command.token)}, &status);
    if (result != HttpResult::Ok) {
      HW_LOG(command.log, warning)
          << "Failed to unlock document " << command.http.ErrorText(result);
    } else if (status < 400) {
      // An answer that is not JSON is not "ok" either: it is logged as the server's error.
      const std::string body = response.str();
      if (ResponseStatusIsOk(body)) {
        HW_LOG(command.log, info) << "Document unlocked";
      } else {
        HW_LOG(command.log, warning) << "The server returned an error when unlocking: " << body;
      }
    } else {
      HW_LOG(command.log, warning)
          << "Failed to unlock document (HTTP Response Code: " << status << ")";
    }
  } catch (const std::exception& error) {
    HW_LOG(command.log, warning) << "Failed to unlock document " << error.what();
  }
}

}  // namespace hopwell
