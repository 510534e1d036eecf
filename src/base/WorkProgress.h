#pragma once

#include <string>

namespace hopwell {

// What work done on someone's behalf (zipping a job's files) tells them and asks them: its
// share of the progress, each failure with the message for the user, and whether it should
// stop. Called from whatever thread does the work.
class IWorkProgress {
 public:
  virtual ~IWorkProgress() = default;

  virtual void AddProgress(double delta) = 0;
  virtual void WorkFailed(const std::string& message) = 0;
  virtual bool CancelRequested() const = 0;
};

}  // namespace hopwell
