#pragma once

#include "shell/Updater.h"

namespace hopwell {

// Tells the user what an update check found: a newer version (with a button that opens
// its download), and, when the user asked for the check, "up to date" or the failure.
// User-interface thread.
void ShowUpdateNotice(const UpdateCheckResult& result, bool userAsked);

}  // namespace hopwell
