#pragma once

namespace hopwell {

// The resident desktop client: single-instance check and relay, logging, the main window
// with its tray icon and job list, the updater, the start-up command and the event loop.
// A later launch hands its command line to the running instance and returns 0. Without a
// display it says so on stderr, points to --headless and returns 2.
int RunDesktop(int argc, char** argv);

}  // namespace hopwell
