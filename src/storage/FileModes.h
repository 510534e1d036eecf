#pragma once

#include <sys/types.h>

#include <mutex>

namespace hopwell {

// The client's own files and folders are for the user alone: sets the process mask to 077 and
// remembers the mask the client was started with (the first call's), for the programs it starts.
void MakeOwnFilesPrivate();

// While it lives, the process mask is the one the client was started with, so that a program
// started meanwhile (the editing application, the tagger) creates its files as the user would.
// Starts are serialised; the previous mask comes back at the end of the scope. Files the client
// makes in that short window still lie in its private folders.
class StartedProgramMask {
 public:
  StartedProgramMask();
  ~StartedProgramMask();
  StartedProgramMask(const StartedProgramMask&) = delete;
  StartedProgramMask& operator=(const StartedProgramMask&) = delete;

 private:
  std::unique_lock<std::mutex> lock_;
  bool changed_ = false;
  mode_t previous_ = 0;
};

}  // namespace hopwell
