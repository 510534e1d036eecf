#pragma once

#include <string>

namespace hopwell {

class JobStatus;

// What the desktop's notification says once a job has ended: the job's description, and
// below it the error of a failed job or, for one that succeeded, what the user needs next
// (where the chapter went, what it was opened in).
struct JobEndNotice {
  std::string summary;
  std::string body;
};

// Reads the job's fields through its locks; any thread.
JobEndNotice MakeJobEndNotice(const JobStatus& job);

}  // namespace hopwell
