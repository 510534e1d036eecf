#pragma once

#include <memory>
#include <string>

#include "apps/IAppLauncher.h"
#include "commands/install/InstallCmdParameters.h"
#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// "install": fetches the parameter document named by the argument, brings the plug-ins of
// the application it names up to date and reports the outcome on the job.
class InstallCmd : public KelvCmd {
 public:
  InstallCmd(std::string argument, JobPtr job);
  // Another helper and launcher factory, for test rigs.
  InstallCmd(std::string argument, JobPtr job, HttpHelperPtr http, AppLauncherFactory launchers);
  ~InstallCmd() override;

  void DoExecute() override;

  // The argument with every "%2F" (any case) replaced by "/".
  static std::string DecodeParameterUrl(const std::string& argument);

 private:
  void Execute();
  void ReportResult(InstallResult result, IAppLauncher& launcher);

  std::string argument_;
  bool argumentValid_ = false;
  HttpHelperPtr http_;
  JobPtr job_;
  std::string parameterUrl_;
  std::shared_ptr<InstallCmdParameters> parameters_;
  AppLauncherFactory launchers_;
};

}  // namespace hopwell
