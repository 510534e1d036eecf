#pragma once

class QWindow;

namespace hopwell {

struct StartupToken;

// On X11: ends the launcher's startup notification of `token` ("remove") and asks the window
// manager to activate `window` as of the launch's time, which is what lets a window manager
// with focus-stealing prevention bring it forward. Does nothing on other platforms.
void ActivateWithX11StartupId(QWindow& window, const StartupToken& token);

}  // namespace hopwell
