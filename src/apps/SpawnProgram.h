#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

#include <boost/filesystem/path.hpp>

namespace hopwell {

struct SpawnOptions {
  // Collect the child's exit status on a background thread, so that it never lingers as a
  // zombie. Clear it to waitpid for the child yourself.
  bool reap = true;
  // The child's working folder; empty keeps the client's.
  boost::filesystem::path workingFolder;
};

// Starts program with the argument vector {program, arguments...}. No shell is involved:
// every argument reaches the program exactly as given. The child inherits the environment,
// reads standard input from /dev/null and keeps standard output and error. Returns the
// child's process id, or -1 with `error` (when given) set to the errno value.
pid_t SpawnProgram(const boost::filesystem::path& program,
                   const std::vector<std::string>& arguments, const SpawnOptions& options = {},
                   int* error = nullptr);

// Collects the exit status of child pid on a background thread, so that it never lingers as
// a zombie.
void ReapInBackground(pid_t pid);

}  // namespace hopwell
