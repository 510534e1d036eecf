#pragma once

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "commands/open/CommandContext.h"
#include "commands/open/OpenCmdParameters.h"
#include "common/LogCapture.h"
#include "common/ScriptedHttpHelper.h"
#include "common/TempDir.h"

namespace hopwell::testing {

// The steps of an open with a scripted server and their own TempRoot and AppDataRoot.
class OpenStepsTest : public ::testing::Test {
 protected:
  OpenStepsTest()
      : tmp_("TMPDIR", dir_.path().string() + "/tmp"),
        appData_("APPDATA", dir_.path().string() + "/appdata"),
        job_(ActionKind::Download, "Opening...", "kelv:open:test") {
    // URLs a test did not list are missing pages; a failed transfer says so.
    http_.status = 404;
    http_.body = "<html>404</html>";
    http_.errorText = "transfer failed";
    http_.reportsProgress = true;
  }

  // A parameter document with these values (and an optional files section).
  void SetParameters(const std::map<std::string, std::string>& values,
                     const std::string& files = "") {
    std::string text = "<data><params>";
    for (const auto& [name, value] : values) {
      text += "<param name=\"" + name + "\" value=\"" + value + "\"/>";
    }
    text += "</params>" + files + "</data>";
    std::istringstream in(text);
    parameters_ = std::make_shared<OpenCmdParameters>(in);
  }

  TempDir dir_;
  ScopedEnv tmp_;
  ScopedEnv appData_;
  ScriptedHttpHelper http_;
  JobStatus job_;
  LogSource log_;
  CommandContext command_{http_, job_, log_, "tok en"};
  std::shared_ptr<OpenCmdParameters> parameters_;
  LogCapture logs_;
};

}  // namespace hopwell::testing
