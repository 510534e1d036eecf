#include "commands/esef/EsefCmd.h"

#include <boost/format.hpp>

#include "commands/esef/TaggerInstallFlag.h"
#include "commands/esef/TaggerInstaller.h"
#include "intake/ParameterDownload.h"

namespace hopwell {
namespace {

const char* const kCurrentlyInstalling =
    "Kelvory XBRL Tagger is currently installing. You'll be able to launch it once the "
    "installation is complete.";

}  // namespace

EsefCmd::EsefCmd(const std::string& argument, JobPtr job)
    : EsefCmd(argument, std::move(job), nullptr, nullptr) {}

EsefCmd::EsefCmd(const std::string& argument, JobPtr job, HttpHelperPtr http, TaggerLauncher launch)
    : argument_(argument),
      job_(std::move(job)),
      http_(std::move(http)),
      launch_(std::move(launch)) {
  // A failed parse leaves url and token empty; the parameter download then reports it.
  (void)parameters_.Parse(argument);
  HW_LOG(log_, info) << "  Creating EsefCmd " << argument;
  if (!launch_) launch_ = DefaultTaggerLauncher();
}

void EsefCmd::DoExecute() {
  RunFailingJob([this] { Execute(); }, *job_,
                {"    EsefCmd failed: ", "ESEF command failed (%1%)", "    EsefCmd failed",
                 "ESEF command failed"});
}

void EsefCmd::Execute() {
  HW_LOG(log_, info) << "    Executing EsefCmd " << argument_;
  if (!http_) http_ = CreateHttpHelper();
  job_->SetState(JobState::Running);
  job_->SetProgress(5);
  job_->AddMessage("Downloading ESEF Parameters");
  downloadParameters_ = DownloadEsefParameters<EsefCmdDownloadParameters>(
      *http_, *job_, log_, parameters_.url, parameters_.token);
  if (!downloadParameters_) return;

  TaggerInstaller installer(job_, downloadParameters_, http_, *this);
  if (TaggerInstallInProgress()) {
    job_->JobFailed(kCurrentlyInstalling);
    return;
  }
  // The installer releases the installation flag itself, whatever the outcome.
  if (!installer.InstallTagger()) {
    job_->JobFailed("Failed to install Kelvory XBRL Tagger");
    return;
  }

  job_->SetProgress(70);
  const std::vector<FileDownloadInfoPtr> files = downloadParameters_->Files();
  const std::string name = ReportName(files);
  job_->SetDocumentName(name);
  job_->AddMessage(boost::format("Locking %1% ESEF Report") % name);
  if (!LockReport()) {
    job_->JobFailed(boost::format("Failed to lock the document (%1%) for tagging") % name);
    return;
  }

  job_->SetProgress(75);
  job_->AddMessage(boost::format("Downloading %1% ESEF Files") % name);
  const boost::filesystem::path folder = CreateReportFolder();
  if (folder.empty()) {
    job_->JobFailed(boost::format("Failed to create %1% ESEF folder") % name);
    return;
  }
  job_->SetFolder(folder.string());
  if (!DownloadReportFiles(files, folder)) return;
  if (!ExtractReportFiles(files, folder)) {
    job_->JobFailed(boost::format("Failed to extract %1% ESEF files") % name);
    return;
  }

  job_->SetProgress(80);
  if (!MarkReportDownloaded()) {
    job_->JobFailed(boost::format("Failed to set %1% ESEF status as downloaded") % name);
    return;
  }

  job_->SetProgress(90);
  const boost::filesystem::path document = FindTaggerDocument(folder);
  if (document.empty()) {
    job_->JobFailed(boost::format("%1% ESEF report not found") % name);
    HW_LOG(log_, warning) << "    Could not find tagger document in downloads";
    return;
  }
  if (!RestoreMappings(document, folder)) return;

  job_->SetProgress(95);
  job_->AddMessage(boost::format("Opening %1% in the Kelvory XBRL Tagger") % name);
  if (!LaunchTagger(document)) {
    HW_LOG(log_, warning) << "    Failed to launch the Kelvory XBRL Tagger";
    return;
  }
  job_->SetProgress(100);
  job_->SetState(JobState::Succeeded);
}

std::string EsefCmd::ActionFailureText(int action) {
  switch (action) {
    case 0:
      return "Failed to lock ESEF Report";
    case 1:
      return "Failed to report ESEF Report as downloaded";
    default:
      return {};
  }
}

std::string EsefCmd::ReportName(const std::vector<FileDownloadInfoPtr>& files) {
  static const std::string kZip = ".zip";
  for (const auto& file : files) {
    const std::string& name = file->name;
    if (name.size() >= kZip.size() &&
        name.compare(name.size() - kZip.size(), kZip.size(), kZip) == 0) {
      const std::string stem = name.substr(0, name.size() - kZip.size());
      return stem.empty() ? "Chapter" : stem;
    }
  }
  return "Chapter";
}

}  // namespace hopwell
