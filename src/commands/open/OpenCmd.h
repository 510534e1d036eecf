#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <boost/filesystem/path.hpp>

#include "apps/IAppLauncher.h"
#include "commands/open/CommandContext.h"
#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"
#include "net/IHttpHelper.h"

namespace hopwell {

class OpenCmdParameters;

// Opens a chapter of the platform in its editing application: fetches the chapter's
// parameter document, brings the plug-ins up to date, locks the chapter unless it is opened
// read-only, downloads its files, records the document for the plug-in and starts the
// application on it. Every outcome ends on the job; a failure after the lock unlocks it.
class OpenCmd : public KelvCmd {
 public:
  OpenCmd(std::string argument, JobPtr job);
  // Another helper and launcher factory, for test rigs.
  OpenCmd(std::string argument, JobPtr job, HttpHelperPtr http, AppLauncherFactory launchers);
  ~OpenCmd() override;

  void DoExecute() override;

  // The ProgressCallback of the file downloads; context is the command.
  static void OnDownloadProgress(void* context, std::uint64_t downloadTotal,
                                 std::uint64_t downloaded, std::uint64_t uploadTotal,
                                 std::uint64_t uploaded);

  bool ArgumentValid() const { return argumentValid_; }
  const std::string& ParameterUrl() const { return parameterUrl_; }
  const std::string& Token() const { return context_.token; }

 private:
  void Execute();
  bool FetchParameters();
  bool UpdatePlugins(IAppLauncher& launcher);
  bool Lock();
  void Unlock();
  void Launch(IAppLauncher& launcher, const boost::filesystem::path& document);
  void ReportDownload(std::uint64_t downloaded);

  std::string parameterUrl_;
  std::string argument_;
  JobPtr job_;
  bool argumentValid_ = false;
  HttpHelperPtr http_;
  AppLauncherFactory launchers_;
  CommandContext context_;
  std::shared_ptr<OpenCmdParameters> parameters_;
  std::uint64_t bytesDownloaded_ = 0;
  std::uint64_t lastFileBytes_ = 0;
  std::optional<std::int64_t> downloadStart_;
  bool locked_ = false;
};

}  // namespace hopwell
