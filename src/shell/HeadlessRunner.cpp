#include <unistd.h>

#include "base/Logging.h"
#include "intake/CommandIntake.h"
#include "shell/HeadlessFrontEnd.h"
#include "shell/TerminationSignals.h"

namespace hopwell {

namespace {

LogSource& HeadlessLog() {
  static LogSource log;
  return log;
}

}  // namespace

int RunHeadless(const std::vector<std::string>& commands, const HeadlessExtras& extras) {
  InstallTerminationSignals();
  auto frontEnd =
      std::make_shared<HeadlessFrontEnd>(stdout, HeadlessFrontEnd::IsLiveTerminal(STDOUT_FILENO));
  frontEnd->SetJobObserver(extras.jobObserver);
  SetFrontEnd(frontEnd);
  for (const std::string& command : commands) SubmitCommand(command);
  bool cancelled = false;
  while (RunningCommandCount() > 0 && TerminationSignalCount() < 2) {
    if (!cancelled && TerminationSignalCount() == 1) {
      // The first signal stops the jobs the way a user would, so that they release what they
      // hold on the server; the second one ends the process at once.
      cancelled = true;
      HW_LOG(HeadlessLog(), info) << "Cancelling every job on signal " << PendingTerminationSignal()
                                  << "...";
      CancelAllJobs();
    }
    if (AnyJobActive()) {
      frontEnd->PrintChanges(100);
    } else {
      // Every job has ended; only their threads are finishing. Waiting on the threads rather
      // than on the front end ends the process as soon as the last one is gone.
      frontEnd->PrintChanges(0);
      WaitForCommandThreads(100);
    }
    if (extras.idle) extras.idle();
  }
  if (const int signal = PendingTerminationSignal(); TerminationSignalCount() >= 2) {
    // The commands still running are cut off; what they logged so far stays.
    HW_LOG(HeadlessLog(), info) << "Shutting down on signal " << signal << "...";
    FlushLog();
    EndByTerminationSignal(signal);
  }
  frontEnd->PrintChanges(0);
  if (extras.finish) extras.finish();
  const bool allSucceeded = frontEnd->PrintSummary();
  // Intake's own lines (failed commands) are not flushed by any command thread.
  FlushLog();
  return allSucceeded ? 0 : 1;
}

}  // namespace hopwell
