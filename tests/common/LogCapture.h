#pragma once

#include <string>
#include <vector>

namespace hopwell::testing {

struct CapturedRecord {
  std::string severity;
  std::string message;
};

// Collects every log record (all levels) while it exists; installed by the test main, so
// records never reach the console.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<CapturedRecord> Records() const;
  // True when a record at `severity` holds exactly `message`.
  bool Has(const std::string& severity, const std::string& message) const;
  // True when a record at `severity` holds `fragment` anywhere.
  bool HasFragment(const std::string& severity, const std::string& fragment) const;
};

}  // namespace hopwell::testing
