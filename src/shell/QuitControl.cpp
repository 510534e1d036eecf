#include "shell/QuitControl.h"

#include <mutex>

#include "base/FrontEnd.h"
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
  QuitWithoutAsking();
  return true;
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
