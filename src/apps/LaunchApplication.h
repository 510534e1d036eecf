#pragma once

#include <boost/filesystem/path.hpp>

namespace hopwell {

// Starts the application with the document as its one argument (no shell, so spaces and
// quotes in the path arrive intact). A value above 32 means success; otherwise a small
// error value: 2 file not found, 3 path not found, 5 access denied, 8 out of memory, 31
// any other failure.
int LaunchApplication(const boost::filesystem::path& application,
                      const boost::filesystem::path& document);

}  // namespace hopwell
