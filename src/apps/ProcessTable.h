#pragma once

#include <boost/filesystem/path.hpp>

namespace hopwell {

// The process id of a running process of the application, 0 when there is none. Files are
// compared by identity (device and inode after following links), so the path the search
// found may differ in spelling from the one the process was started under: a symbolic link,
// "//", "/./". A process counts when its /proc/PID/exe is the application file, or, when the
// application is a script ("#!"), when the first argument of its command line that is not an
// option is (an interpreter running it, also after "env -S" or with options before the
// script). One scan of procRoot per call; processes that vanish or cannot be read are skipped.
int FindRunningProcess(const boost::filesystem::path& application,
                       const boost::filesystem::path& procRoot = "/proc");

}  // namespace hopwell
