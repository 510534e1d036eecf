#pragma once

#include <string>

#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// The installation test: logs the system version, checks the URL escaping and fetches the
// platform's test page. Any completed exchange counts as success, whatever its status.
class TestCmd : public KelvCmd {
 public:
  // The five-byte UTF-8 text "asäd" and its expected escaped form.
  static constexpr const char* kEscapeInput =
      "as\xC3\xA4"
      "d";
  static constexpr const char* kEscapeExpected = "as%C3%A4d";

  // The deployment's test URL and header; the helper is made when the command runs.
  explicit TestCmd(JobPtr job);
  // Another helper and test URL, for test rigs.
  TestCmd(JobPtr job, HttpHelperPtr http, std::string testUrl);

  void DoExecute() override;

 private:
  void Execute();

  JobPtr job_;
  HttpHelperPtr http_;
  std::string testUrl_;
};

}  // namespace hopwell
