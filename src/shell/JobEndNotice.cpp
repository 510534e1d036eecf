#include "shell/JobEndNotice.h"

#include <string_view>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "intake/JobStatus.h"

namespace hopwell {
namespace {

// The text after `prefix` of the newest message that starts with it, or empty.
std::string NewestAfter(const std::vector<std::string>& messages, std::string_view prefix) {
  for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
    if (it->size() > prefix.size() && it->compare(0, prefix.size(), prefix) == 0) {
      return it->substr(prefix.size());
    }
  }
  return {};
}

std::string SucceededBody(const JobStatus& job) {
  switch (job.Kind()) {
    case ActionKind::Download: {
      // The open command's last step names the document it handed to the application.
      const std::string document = NewestAfter(job.Messages(), "Launching ");
      std::string application = job.ApplicationName();
      if (application.empty()) application = "the editing application";
      if (document.empty()) {
        return "Chapter " + job.DocumentName() + " was opened in " + application + ".";
      }
      return "Chapter " + job.DocumentName() + " is in " +
             boost::filesystem::path(document).parent_path().string() + " and was opened in " +
             application + ".";
    }
    case ActionKind::Upload:
      return "Document " + job.UploadName() + " is checked in on the Kelvory server.";
    case ActionKind::Install:
      return "The plug-ins are in place; the editing application loads them when it starts.";
    case ActionKind::Verify:
      return "The Kelvory server can be reached: chapters can be opened and saved.";
    case ActionKind::EsefDownload:
      return "The report was opened in the Kelvory XBRL Tagger.";
    default:
      return {};
  }
}

}  // namespace

JobEndNotice MakeJobEndNotice(const JobStatus& job) {
  JobEndNotice notice{job.Description(), {}};
  switch (job.GetState()) {
    case JobState::Failed:
      notice.body = job.LastMessage();
      break;
    case JobState::Succeeded:
      notice.body = SucceededBody(job);
      break;
    default:
      break;
  }
  return notice;
}

}  // namespace hopwell
