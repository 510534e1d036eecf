#pragma once

#include <functional>
#include <string>
#include <vector>

namespace hopwell {

// Qt's platform plugins as this client's users meet them: which ones a start tries, which
// file and Debian package each comes in, and what to tell the user when none could start.

// The platforms a start tries, in order: those QT_QPA_PLATFORM names (`requested`, its
// ";"-separated list, arguments after ":" dropped), else Wayland then X11, as Qt does here.
std::vector<std::string> PlatformsToTry(const char* requested);

// The plugin file of a platform ("libqxcb.so"), or empty for one this client knows nothing of.
std::string PlatformPluginFile(const std::string& platform);
// The Debian package that holds it ("libqt6gui6"), or empty.
std::string PlatformPluginPackage(const std::string& platform);

// Why no window can be shown when none of `platforms` could start: the packages whose plugin
// is missing (`installed` says whether a plugin file is there), or else that no display
// could be reached.
std::string NoWindowReason(const std::vector<std::string>& platforms,
                           const std::function<bool(const std::string& file)>& installed);

}  // namespace hopwell
