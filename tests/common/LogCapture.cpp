#include "common/LogCapture.h"

#include <mutex>

#include "base/LogTap.h"

namespace hopwell::testing {
namespace {

constexpr const char* kLevelNames[] = {"trace", "debug", "info", "warning", "error", "fatal"};

// One process-wide collection: captures are nested scopes over it.
struct CaptureBackend {
  std::mutex lock_;
  int active_ = 0;
  std::vector<CapturedRecord> records_;
};

CaptureBackend& Backend() {
  static CaptureBackend* const backend = [] {
    auto* created = new CaptureBackend;
    SetLogTap([](Severity level, std::string_view message) {
      CapturedRecord captured{kLevelNames[static_cast<int>(level)], std::string(message)};
      CaptureBackend& backend = Backend();
      std::lock_guard lock(backend.lock_);
      if (backend.active_ > 0) backend.records_.push_back(std::move(captured));
    });
    return created;
  }();
  return *backend;
}

}  // namespace

LogCapture::LogCapture() {
  std::lock_guard lock(Backend().lock_);
  if (Backend().active_++ == 0) Backend().records_.clear();
}

LogCapture::~LogCapture() {
  std::lock_guard lock(Backend().lock_);
  --Backend().active_;
}

std::vector<CapturedRecord> LogCapture::Records() const {
  std::lock_guard lock(Backend().lock_);
  return Backend().records_;
}

bool LogCapture::Has(const std::string& severity, const std::string& message) const {
  for (const CapturedRecord& record : Records()) {
    if (record.severity == severity && record.message == message) return true;
  }
  return false;
}

bool LogCapture::HasFragment(const std::string& severity, const std::string& fragment) const {
  for (const CapturedRecord& record : Records()) {
    if (record.severity == severity && record.message.find(fragment) != std::string::npos) {
      return true;
    }
  }
  return false;
}

void InstallCaptureSink() {
  Backend();
}

}  // namespace hopwell::testing
