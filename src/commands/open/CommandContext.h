#pragma once

#include <string>

#include "base/Logging.h"
#include "intake/JobStatus.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// What the steps of a document command share with it: its HTTP helper, its job, its log
// source and its access token. The command owns all of them and outlives every step.
struct CommandContext {
  IHttpHelper& http;
  JobStatus& job;
  LogSource& log;
  std::string token;
};

}  // namespace hopwell
