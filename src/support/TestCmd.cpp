#include "support/TestCmd.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include <fmt/format.h>

#include "Deployment.h"
#include "net/AnswerForLog.h"
#include "net/UrlTools.h"

namespace hopwell {
namespace {

const char* const kConnectionFailed = "Could not establish internet connection";

// The thread's last system error as the transfer log shows it: the code in hex, then its
// description when there is one.
std::string LastErrorText(int code) {
  std::string text = fmt::format("Logging error: 0x{:08X}", static_cast<unsigned>(code));
  if (code != 0) text += fmt::format("{}\n (Error Code: {:X})", std::strerror(code), code);
  return text;
}

}  // namespace

TestCmd::TestCmd(JobPtr job) : job_(std::move(job)), testUrl_(deployment::kTestUrl) {}

TestCmd::TestCmd(JobPtr job, HttpHelperPtr http, std::string testUrl)
    : job_(std::move(job)), http_(std::move(http)), testUrl_(std::move(testUrl)) {}

void TestCmd::DoExecute() {
  try {
    Execute();
  } catch (const std::exception& error) {
    HW_LOG(log_, error) << "Could not access test url " << testUrl_ << ": " << error.what();
    job_->JobFailed(kConnectionFailed);
  }
}

void TestCmd::Execute() {
  HW_LOG(log_, info) << "DoExecute()";
  job_->SetState(JobState::Running);
  if (!http_) http_ = CreateHttpHelper();

  HW_LOG(log_, info) << "OS Version: " << OsVersionString();
  HW_LOG(log_, error) << LastErrorText(errno);

  const std::string escaped = UrlEscape(kEscapeInput);
  if (escaped != kEscapeExpected) {
    HW_LOG(log_, warning) << "Did not escape string correctly, expected '" << kEscapeExpected
                          << "' but got '" << escaped << "'";
  }

  std::ostringstream page;
  const HeaderList headers = {{deployment::kTestHeaderName, deployment::kTestHeaderValue}};
  const HttpResult result = http_->Get(testUrl_, &page, nullptr, nullptr, {}, headers, nullptr);
  if (result != HttpResult::Ok) {
    HW_LOG(log_, error) << "Could not access test url " << testUrl_;
    const std::string reason = http_->ErrorText(result);
    if (!reason.empty()) HW_LOG(log_, error) << "    " << reason;
    // The transfer's own words (a refused certificate, say) are in the log line above.
    job_->JobFailed(kConnectionFailed);
    return;
  }
  HW_LOG(log_, info) << "Successfully established internet connection to " << testUrl_;
  HW_LOG(log_, info) << "Retrieved\n" << AnswerForLog(page.str());
  HW_LOG(log_, info) << "TestCmd ran successfully";
  job_->SetState(JobState::Succeeded);
}

}  // namespace hopwell
