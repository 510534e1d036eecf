#include "commands/open/OpenCmd.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/format.hpp>

#include "commands/open/DocumentDownload.h"
#include "commands/open/DocumentLock.h"
#include "commands/open/DocumentRecord.h"
#include "commands/open/OpenArgument.h"
#include "commands/open/OpenCmdParameters.h"
#include "intake/ParameterDownload.h"

namespace hopwell {

namespace fs = boost::filesystem;

OpenCmd::OpenCmd(std::string argument, JobPtr job)
    : OpenCmd(std::move(argument), std::move(job), CreateHttpHelper(), CreateAppLauncher) {}

OpenCmd::OpenCmd(std::string argument, JobPtr job, HttpHelperPtr http, AppLauncherFactory launchers)
    : argument_(std::move(argument)),
      job_(std::move(job)),
      http_(std::move(http)),
      launchers_(std::move(launchers)),
      context_{*http_, *job_, log_, {}} {
  HW_LOG(log_, info) << "  Creating Command " << argument_;
  OpenArgument parsed = ParseArgument(argument_);
  argumentValid_ = parsed.valid;
  parameterUrl_ = std::move(parsed.parameterUrl);
  context_.token = std::move(parsed.token);
  if (!argumentValid_) {
    job_->AddMessage(boost::format("Invalid arguments: %s") % argument_);
    HW_LOG(log_, warning) << "  Invalid arguments " << argument_;
  }
}

OpenCmd::~OpenCmd() = default;

void OpenCmd::DoExecute() {
  const FailureTexts texts{"    OpenCmd failed: ", "The document could not be opened: %1%",
                           "    OpenCmd failed with an unknown error",
                           "The document could not be opened.", true};
  if (RunFailingJob([this] { Execute(); }, *job_, texts)) return;
  // Whatever escaped came after the step that failed it; a lock taken is released once.
  try {
    Unlock();
    http_->Prepare();
  } catch (...) {
    HW_LOG(log_, error) << "    OpenCmd could not clean up after the failure";
  }
}

void OpenCmd::Execute() {
  HW_LOG(log_, info) << "    Executing OpenCmd " << argument_;
  job_->SetState(JobState::Running);
  if (!AcceptArgument(argumentValid_, argument_, *job_, "    Invalid arguments ")) return;

  job_->SetProgress(5);
  if (!FetchParameters()) {
    http_->Prepare();
    return;
  }

  const std::string chapterName = parameters_->ChapterName();
  job_->SetDocumentName(chapterName);
  job_->SetProgress(8);
  job_->SetCaption("Updating plug-ins...");
  HW_LOG(log_, info) << "Opening document " << chapterName;

  const AppLauncherPtr launcher = launchers_(parameters_, job_);
  if (!launcher) {
    job_->JobFailed("The editing application could not be prepared.");
    http_->Prepare();
    return;
  }
  if (!UpdatePlugins(*launcher)) return;

  job_->SetCaption((boost::format("Opening %1%...") % chapterName).str());
  job_->SetProgress(13);

  if (!parameters_->ReadOnly() && !Lock()) {
    http_->Prepare();
    return;
  }

  job_->SetProgress(15);
  fs::path document;
  const DownloadProgressSink progress{&OpenCmd::OnDownloadProgress, this, &lastFileBytes_};
  if (!DownloadFiles(context_, *parameters_, progress, document)) {
    Unlock();
    http_->Prepare();
    return;
  }
  // Without a document there is nothing to record or launch, and a record written beside an
  // empty path would land in the working folder.
  if (document.empty()) {
    job_->JobFailed("The chapter's files hold no InDesign document.");
    Unlock();
    http_->Prepare();
    return;
  }

  // A cancel that came after the last transfer still leaves the chapter unrecorded.
  if (CancelRequested()) {
    Unlock();
    http_->Prepare();
    return;
  }
  job_->SetProgress(90);
  if (!RecordDocument(context_, *parameters_, document)) {
    Unlock();
    http_->Prepare();
    return;
  }

  Launch(*launcher, document);
  http_->Prepare();
}

bool OpenCmd::FetchParameters() {
  parameters_ =
      DownloadOpenParameters<OpenCmdParameters>(*http_, *job_, log_, parameterUrl_, Token());
  if (!parameters_) return false;
  if (!parameters_->IsInitialized()) {
    // The body arrived but is no parameter document; nothing else has failed the job.
    job_->JobFailed("Error reading parameter file");
    return false;
  }
  return true;
}

bool OpenCmd::Lock() {
  locked_ = LockDocument(context_, *parameters_);
  return locked_;
}

void OpenCmd::Unlock() {
  // Only a lock this command took is released, and only once: a read-only open must not
  // release a lock someone else holds on the chapter.
  if (!locked_ || !parameters_) return;
  locked_ = false;
  UnlockDocument(context_, *parameters_);
}

void OpenCmd::Launch(IAppLauncher& launcher, const fs::path& document) {
  job_->SetTime(boost::posix_time::second_clock::local_time());
  job_->AddMessage(boost::format("Launching %s") % document.string());
  bool started = false;
  try {
    started = launcher.OpenDocument(document);
  } catch (const std::string& reason) {
    Unlock();
    job_->AddMessage(reason);
    job_->SetState(JobState::Failed);
    return;
  }
  if (!started) {
    Unlock();
    job_->JobFailed("An error occurred when launching the application");
    return;
  }
  job_->SetProgress(100);
  job_->SetState(JobState::Succeeded);
}

}  // namespace hopwell
