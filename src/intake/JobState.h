#pragma once

namespace hopwell {

// Stored as plain integers: values outside the named ones are kept unchanged. Cancelled
// ends a job the user stopped (JobStatus::Cancel).
enum class JobState : int { Waiting = 0, Running = 1, Failed = 2, Succeeded = 3, Cancelled = 4 };

enum class ActionKind : int {
  Unknown = 0,
  Download = 1,
  Upload = 2,
  Install = 3,
  Verify = 4,
  EsefDownload = 5,
};

inline bool IsActive(JobState state) {
  return state == JobState::Waiting || state == JobState::Running;
}

}  // namespace hopwell
