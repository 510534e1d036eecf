#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

namespace hopwell {

class JobStatus;

// What a job-list row offers for its job, worked out without a toolkit: the list view
// builds its context menu from it.
struct JobRowActions {
  bool cancel = false;         // waiting or running, and not asked to stop yet
  bool confirmCancel = false;  // running: the user confirms before it is stopped
  bool retry = false;          // failed or cancelled (a save only with its request kept): its
                               // command string goes to intake again
  bool showFolder = false;     // an ended open, save or ESEF job whose folder is known
  bool openLog = true;         // the current log file, for every row
};

JobRowActions ActionsFor(const JobStatus& job);

// The confirmation asked before a running job is cancelled.
std::string CancelQuestion(const JobStatus& job);

// Hands the job's command string to intake again as a new job, as if the platform had sent
// it again, with what the job kept for a retry. User-interface thread only.
void RetryJob(const JobStatus& job);

// The job's folder, or its nearest parent that still exists (a save's working folder goes
// once the chapter is checked in); empty when the job names none.
boost::filesystem::path FolderToShow(const JobStatus& job);

}  // namespace hopwell
