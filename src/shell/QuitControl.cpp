#include "shell/QuitControl.h"

#include <mutex>

#include "base/FrontEnd.h"
#include "base/Logging.h"
#include "intake/CommandIntake.h"
#include "shell/Updater.h"

namespace hopwell {
namespace {

std::mutex quitLock;
std::function<void(int)>& QuitHandler() {
  static std::function<void(int)> handler;
  return handler;
}
Updater* startedUpdater = nullptr;

LogSource& QuitLog() {
  static LogSource log;
  return log;
}

}  // namespace

void SetQuitHandler(std::function<void(int)> postQuit) {
  std::lock_guard lock(quitLock);
  QuitHandler() = std::move(postQuit);
}

void SetStartedUpdater(Updater* updater) {
  std::lock_guard lock(quitLock);
  startedUpdater = updater;
}

bool RequestQuit() {
  // A quit requested while the question is open (tray Quit behind the box, a second close)
  // waits for that answer instead of stacking another box.
  static bool asking = false;
  if (asking) return false;
  if (AnyJobActive()) {
    asking = true;
    const bool quit = FrontEnd()->ConfirmQuit();
    asking = false;
    if (!quit) return false;
  }
  // The box's Cancel aborts the running transfers: each job takes its own way out. A job
  // cancelled earlier no longer counts as active, yet its thread may still be on its way out
  // (sending the unlock of a chapter): those threads are waited for too.
  StopJobsForQuit();
  QuitWithoutAsking();
  return true;
}

bool StopJobsForQuit() {
  const int cancelled = CancelAllJobs();
  if (cancelled == 0 && RunningCommandCount() == 0) return true;
  if (cancelled > 0) {
    HW_LOG(QuitLog(), info) << "Cancelling " << cancelled << " job(s) before quitting...";
  } else {
    HW_LOG(QuitLog(), info) << "Waiting for " << RunningCommandCount()
                            << " command(s) to end before quitting...";
  }
  if (WaitForCommandThreads(kQuitWaitMilliseconds)) return true;
  HW_LOG(QuitLog(), warning) << RunningCommandCount() << " command(s) still running after "
                             << kQuitWaitMilliseconds << " ms: they are cut off";
  return false;
}

void QuitWithoutAsking() {
  std::function<void(int)> postQuit;
  Updater* updater = nullptr;
  {
    std::lock_guard lock(quitLock);
    postQuit = QuitHandler();
    updater = startedUpdater;
  }
  if (updater != nullptr) updater->Cleanup();
  if (postQuit) postQuit(0);
}

int CanShutdownCallback() {
  return AnyJobActive() ? 0 : 1;
}

}  // namespace hopwell
