#include <boost/format.hpp>

#include "base/FrontEnd.h"
#include "commands/open/OpenCmd.h"
#include "commands/open/OpenCmdParameters.h"

namespace hopwell {
namespace {

constexpr char kMessageTitle[] = "Kelvory Hopwell";
constexpr char kMissingText[] =
    "The document cannot be opened.\n\nThis document requires %1%, which cannot be located. "
    "Please click \"Help\" for instructions on how to install the correct version.";
constexpr char kRunningText[] =
    "Our plug-ins have been updated, but cannot be installed while %1% is running.\n\nTo "
    "update the plug-ins, quit %1% and download the document again.";

}  // namespace

bool OpenCmd::UpdatePlugins(IAppLauncher& launcher) {
  const InstallResult result = launcher.InstallPlugins();
  // A cancelled open ends here, without a message or a dialog of its own.
  if (CancelRequested()) return false;
  const char* jobText = nullptr;
  std::string name;
  switch (result) {
    case InstallResult::ApplicationNotFound:
      jobText = "Unable to locate %1%.";
      name = parameters_->AppName();
      break;
    case InstallResult::PackageUnavailable:
      jobText = "Download of plug-ins for %1% failed.";
      name = parameters_->AppName();
      break;
    case InstallResult::ApplicationRunning:
      jobText = "Our plug-ins have been updated. Quit %1% and download the document again.";
      name = parameters_->AppName();
      break;
    case InstallResult::AdditionalApplicationRunning:
      jobText = "%1% is running. Quit %1% and install the plug-ins again.";
      name = parameters_->AdditionalAppName();
      break;
    default:
      // Installed, but a registration the installer could not make has failed the job: the
      // plug-in may be missing from the application, so the chapter is not opened for it.
      return job_->GetState() != JobState::Failed;
  }
  const std::string text = (boost::format(jobText) % name).str();
  HW_LOG(log_, error) << text;
  job_->SetState(JobState::Failed);
  job_->AddMessage(text);
  if (result == InstallResult::PackageUnavailable) return false;

  const EditApplicationPtr application = launcher.EditApplication();
  if (!application) return false;
  const std::string shownName = result == InstallResult::AdditionalApplicationRunning
                                    ? parameters_->AdditionalAppName()
                                    : application->Parameters()->AppName();
  const std::string displayName = shownName + " (v " + application->MajorVersion() + ")";
  if (result == InstallResult::ApplicationNotFound) {
    launcher.ShowApplicationMissing((boost::format(kMissingText) % displayName).str());
  } else {
    FrontEnd()->ShowMessageDialog(kMessageTitle, (boost::format(kRunningText) % displayName).str());
  }
  return false;
}

}  // namespace hopwell
