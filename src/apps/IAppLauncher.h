#pragma once

#include <functional>
#include <memory>
#include <string>

#include <boost/filesystem/path.hpp>

#include "apps/IEditApplication.h"
#include "base/Logging.h"
#include "intake/AppCmdParameters.h"
#include "intake/JobStatus.h"

namespace hopwell {

// Result of the plug-in installation.
enum class InstallResult : int {
  Installed = 0,                     // plug-ins current or installed now
  ApplicationNotFound = 1,           // the application record has no application path
  PackageUnavailable = 2,            // package not obtained, failed its check, or missing
  ApplicationRunning = 3,            // update needed while the application runs
  AdditionalApplicationRunning = 4,  // update needed while only the additional one runs
};

// The one object through which a command deals with its editing application: it owns the
// application record, starts documents in the application, tells whether it runs, shows
// the application-missing dialog and brings the platform's plug-ins up to date. All
// operations are called on the command's thread. Tests derive their own launcher.
class IAppLauncher {
 public:
  IAppLauncher(std::shared_ptr<AppCmdParameters> parameters, JobPtr job);
  IAppLauncher(const IAppLauncher&) = delete;
  IAppLauncher& operator=(const IAppLauncher&) = delete;

  // Brings the plug-ins of the application up to date (defined with the installer in
  // commands/install). Uses IsApplicationRunning and IsAdditionalApplicationRunning.
  virtual InstallResult InstallPlugins();
  virtual ~IAppLauncher();
  // Starts the application on the document; false when it could not be started. Throws
  // the message string (std::string) "Couldn't find the application associated with
  // application id ..." when the application was not found.
  virtual bool OpenDocument(const boost::filesystem::path& document) = 0;
  // The folder holding the application path; empty when there is none.
  virtual boost::filesystem::path ApplicationFolder();
  // The modal "The Application is Missing" dialog through the front end; returns when it
  // is closed. Does nothing without an application record.
  virtual void ShowApplicationMissing(const std::string& text);
  virtual EditApplicationPtr EditApplication();
  virtual bool IsApplicationRunning() = 0;
  virtual bool IsAdditionalApplicationRunning() = 0;
  // Makes shortcut a link to target, creating its folder when missing.
  virtual bool CreateShortcut(const boost::filesystem::path& target,
                              const boost::filesystem::path& shortcut) = 0;

  const JobPtr& Job() const { return job_; }
  const std::shared_ptr<AppCmdParameters>& Parameters() const { return parameters_; }

 protected:
  LogSource log_;
  EditApplicationPtr application_;
  std::shared_ptr<AppCmdParameters> parameters_;
  JobPtr job_;
};

using AppLauncherPtr = std::shared_ptr<IAppLauncher>;

// The launcher of this platform (AppLauncher), with a record built from the parameters
// (no search yet).
AppLauncherPtr CreateAppLauncher(std::shared_ptr<AppCmdParameters> parameters, JobPtr job);

// How a command makes its launcher; commands take one so that tests can hand in theirs.
using AppLauncherFactory =
    std::function<AppLauncherPtr(std::shared_ptr<AppCmdParameters> parameters, JobPtr job)>;

}  // namespace hopwell
