#include <unistd.h>

#include "intake/CommandIntake.h"
#include "shell/HeadlessFrontEnd.h"
#include "shell/Logging.h"

namespace hopwell {

int RunHeadless(const std::vector<std::string>& commands) {
  auto frontEnd = std::make_shared<HeadlessFrontEnd>(stdout, ::isatty(STDOUT_FILENO) == 1);
  SetFrontEnd(frontEnd);
  for (const std::string& command : commands) SubmitCommand(command);
  while (RunningCommandCount() > 0) frontEnd->PrintChanges(100);
  frontEnd->PrintChanges(0);
  const bool allSucceeded = frontEnd->PrintSummary();
  // Intake's own lines (failed commands) are not flushed by any command thread.
  FlushLog();
  return allSucceeded ? 0 : 1;
}

}  // namespace hopwell
