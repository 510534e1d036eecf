#pragma once

#include <functional>

namespace hopwell {

class Updater;

// The quit decision shared by every quit path (window close, menu, tray). While a job is
// waiting or running the front end's ConfirmQuit is asked first. Quitting then cancels the
// jobs and waits for every command thread (StopJobsForQuit), also those of jobs cancelled
// before; then the updater (once started) is cleaned up and `postQuit` ends the event loop
// with code 0.
bool RequestQuit();

// Cancels every active job and waits up to kQuitWaitMilliseconds for all command threads to
// end, so that they release what they hold on the server (a locked chapter). True when none
// is left running. User-interface thread only.
inline constexpr int kQuitWaitMilliseconds = 5000;
bool StopJobsForQuit();

// The quit path for an ending session: no question asked, whatever the jobs are doing.
void QuitWithoutAsking();

// Installed by start-up: how to end the event loop, and the updater once it was started.
void SetQuitHandler(std::function<void(int exitCode)> postQuit);
void SetStartedUpdater(Updater* updater);

// The updater's shutdown-permission callback: 1 when no job is active, else 0. Reads the
// job registry, so it must run on the user-interface thread.
int CanShutdownCallback();

}  // namespace hopwell
