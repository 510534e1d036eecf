#pragma once

#include "commands/open/CommandContext.h"

namespace hopwell {

class OpenCmdParameters;

// Asks the server at "lockurl" to lock the chapter. True when the answer starts with "0";
// otherwise the job has been failed with the server's reason or the transfer's error.
[[nodiscard]] bool LockDocument(CommandContext& command, OpenCmdParameters& parameters);

// Sends the unlock request to "unlockurl" and logs the outcome; never changes the job and
// never throws.
void UnlockDocument(CommandContext& command, OpenCmdParameters& parameters);

}  // namespace hopwell
