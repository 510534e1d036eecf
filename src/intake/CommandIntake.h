#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/thread/thread.hpp>

#include "intake/JobStatus.h"
#include "intake/KelvCmd.h"

namespace hopwell {

// Intake's own failures travel as thrown message strings and end as a failed job.
struct IntakeMessage {
  std::string text;
};

// Removes one leading and (independently) one trailing double quote.
std::string RemoveQuotes(const std::string& commandString);

// The direct form: at least 6 characters beginning with "kelv:".
bool IsDirectForm(const std::string& text);

// Reads a text file line by line, joining the lines without their line ends. Throws an
// IntakeMessage when the file does not exist.
std::string ReadFileContents(LogSource& log, const std::string& path);

// The factory: always stores a new job in `job`; returns the command, or empty for an
// unknown or missing name.
std::shared_ptr<KelvCmd> CreateCommand(const std::string& commandText, JobPtr& job);

// Turns one command string into its job and, for a known command, a started thread. A
// retry hands in what the job it repeats kept (JobStatus::RetryInput). Never returns an
// empty pointer.
JobPtr ProcessCommand(const std::string& commandString, const std::string& retryInput = {});

// The entry of start-up and of the main window (user-interface thread only): processes the
// string, attaches the change notifier, announces the job and keeps it in the registry.
void SubmitCommand(const std::string& commandString, const std::string& retryInput = {});

// Every job submitted so far, oldest first (user-interface thread only).
const std::vector<JobPtr>& JobRegistry();

// True while any job in the registry is waiting or running.
bool AnyJobActive();

// Asks every waiting or running job of the registry to stop (JobStatus::Cancel); the number
// of jobs asked. User-interface thread only.
int CancelAllJobs();

// Number of command threads whose Run has not returned yet (any thread).
int RunningCommandCount();

// Waits until no command thread is running or the timeout passes; true when none runs.
bool WaitForCommandThreads(int timeoutMilliseconds);

}  // namespace hopwell
