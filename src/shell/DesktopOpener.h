#pragma once

#include <chrono>
#include <string>

namespace hopwell {

// Opens a URL or a folder with the desktop's handler: xdg-open, found on PATH and started
// without a shell. xdg-open ends with a non-zero status when no handler could be started; on
// some desktops it waits for the handler instead, so one still running after `wait` counts as
// started (and is reaped in the background). Blocks for up to `wait`; any thread.
bool OpenWithDesktop(const std::string& target,
                     std::chrono::milliseconds wait = std::chrono::seconds(3));

}  // namespace hopwell
