#pragma once

#include <string>

namespace hopwell {

// Whether Qt can start a platform plugin here, so that the client can show windows. Qt ends
// the process (SIGABRT) when none starts; the probe runs Qt's own start-up in a child process
// instead, so that this process can go on without a window. Call it before any thread starts.
// Empty when a platform starts; otherwise why none did (which package is missing, or that no
// display could be opened).
std::string ProbeWindowSystem(int argc, char** argv);

}  // namespace hopwell
