#include "commands/install/InstallCmd.h"

#include <utility>

#include <boost/algorithm/string/replace.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/format.hpp>

#include "base/FrontEnd.h"
#include "intake/ParameterDownload.h"

namespace hopwell {
namespace {

const char* const kDialogTitle = "Kelvory Hopwell";

}  // namespace

InstallCmd::InstallCmd(std::string argument, JobPtr job)
    : InstallCmd(std::move(argument), std::move(job), CreateHttpHelper(), CreateAppLauncher) {}

InstallCmd::InstallCmd(std::string argument, JobPtr job, HttpHelperPtr http,
                       AppLauncherFactory launchers)
    : argument_(std::move(argument)),
      http_(std::move(http)),
      job_(std::move(job)),
      parameterUrl_(DecodeParameterUrl(argument_)),
      launchers_(std::move(launchers)) {
  argumentValid_ = !parameterUrl_.empty();
}

InstallCmd::~InstallCmd() = default;

std::string InstallCmd::DecodeParameterUrl(const std::string& argument) {
  return boost::algorithm::ireplace_all_copy(argument, "%2F", "/");
}

void InstallCmd::DoExecute() {
  RunFailingJob([this] { Execute(); }, *job_,
                {"  Installation failed: ", "%1%", "  Installation failed", "Installation failed"});
}

void InstallCmd::Execute() {
  HW_LOG(log_, info) << "Executing...";
  job_->SetState(JobState::Running);
  if (!AcceptArgument(argumentValid_, argument_, *job_, "  Invalid arguments: ")) return;
  parameters_ = DownloadInstallParameters<InstallCmdParameters>(*http_, *job_, log_, parameterUrl_);
  if (parameters_ && !parameters_->IsInitialized()) {
    // No parameter document came: going on with its empty values would end in a dialog about
    // a missing application without a name.
    job_->JobFailed("Error reading parameter file");
    parameters_.reset();
  }
  if (!parameters_) {
    http_->Prepare();
    return;
  }
  job_->AddMessage("Installing...");
  const AppLauncherPtr launcher = launchers_(parameters_, job_);
  const InstallResult result = launcher->InstallPlugins();
  // A cancelled installation ends here, without a message or a dialog of its own.
  if (CancelRequested()) return;
  if (result == InstallResult::Installed || static_cast<int>(result) > 4 ||
      static_cast<int>(result) < 0) {
    // A registration the installer could not make has failed the job already.
    if (job_->GetState() == JobState::Failed) return;
    job_->SetState(JobState::Succeeded);
    job_->SetTime(boost::posix_time::second_clock::local_time());
    job_->SetDocumentName(argument_);
    return;
  }
  ReportResult(result, *launcher);
}

void InstallCmd::ReportResult(InstallResult result, IAppLauncher& launcher) {
  const std::string appName = parameters_->AppName();
  const std::string additionalName = parameters_->AdditionalAppName();
  std::string text;
  switch (result) {
    case InstallResult::ApplicationNotFound:
      text = (boost::format("Unable to Locate %1%") % appName).str();
      break;
    case InstallResult::PackageUnavailable:
      text = (boost::format("Download of plug-ins for %1% failed.") % appName).str();
      break;
    case InstallResult::ApplicationRunning:
      text = (boost::format("%1% is running. Quit %1% and install the plug-ins again.") % appName)
                 .str();
      break;
    default:
      text = (boost::format("%1% is running. Quit %1% and install the plug-ins again.") %
              additionalName)
                 .str();
      break;
  }
  HW_LOG(log_, error) << text;
  job_->SetState(JobState::Failed);
  job_->AddMessage(text);

  const EditApplicationPtr application = launcher.EditApplication();
  if (!application || result == InstallResult::PackageUnavailable) return;
  const std::string name = result == InstallResult::AdditionalApplicationRunning
                               ? additionalName
                               : application->Parameters()->AppName();
  const std::string displayName = name + " (v " + application->MajorVersion() + ")";
  if (result == InstallResult::ApplicationNotFound) {
    launcher.ShowApplicationMissing(
        (boost::format("These plug-ins require %1%, which is not installed.\n\nClick \"Help\" "
                       "for instructions on how to install the correct version.") %
         displayName)
            .str());
  } else {
    FrontEnd()->ShowMessageDialog(
        kDialogTitle,
        (boost::format("%1% is running.\n\nQuit %1% and install the plug-ins again.") % displayName)
            .str());
  }
}

}  // namespace hopwell
