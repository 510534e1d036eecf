#pragma once

#include <string>

namespace hopwell {

// Shows the crash helper's message in a box with only an OK button and waits for it to be
// closed. False when there is no display to show it on (the message is on standard error
// then). Runs its own QApplication: the helper is a fresh process.
bool ShowCrashMessageBox(int argc, char** argv, const std::string& caption,
                         const std::string& text);

}  // namespace hopwell
