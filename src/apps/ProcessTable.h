#pragma once

#include <boost/filesystem/path.hpp>

namespace hopwell {

// The process id of a running process of the application, 0 when there is none. A process
// counts when the target of its /proc/PID/exe link equals the application path exactly, or,
// when the application is a script ("#!"), when its interpreter's first argument does. One scan of
// procRoot per call; processes that vanish or cannot be read are skipped.
int FindRunningProcess(const boost::filesystem::path& application,
                       const boost::filesystem::path& procRoot = "/proc");

}  // namespace hopwell
