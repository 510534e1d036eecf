#pragma once

#include <functional>

namespace hopwell {

class Updater;

// The quit decision shared by every quit path (window close, menu, tray). While a job is
// waiting or running the front end's ConfirmQuit is asked first; on quit the updater (once
// started) is cleaned up and `postQuit` ends the event loop with code 0.
bool RequestQuit();

// The quit path for an ending session: no question asked, whatever the jobs are doing.
void QuitWithoutAsking();

// Installed by start-up: how to end the event loop, and the updater once it was started.
void SetQuitHandler(std::function<void(int exitCode)> postQuit);
void SetStartedUpdater(Updater* updater);

// The updater's shutdown-permission callback: 1 when no job is active, else 0. Reads the
// job registry, so it must run on the user-interface thread.
int CanShutdownCallback();

}  // namespace hopwell
