#pragma once

#include <string>

namespace hopwell {

// Runs a desktop launch's command in this process without a window, as --headless does, and
// still tells the desktop's notification service about every job that ends: for a launch
// (by the browser, say) where no window system can be used. Returns the headless exit code.
int RunWithoutWindow(int argc, char** argv, const std::string& command);

}  // namespace hopwell
