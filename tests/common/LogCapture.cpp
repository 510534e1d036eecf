#include "common/LogCapture.h"

#include <mutex>

#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/trivial.hpp>
#include <boost/log/expressions.hpp>
#include <boost/make_shared.hpp>
#include <boost/smart_ptr/shared_ptr.hpp>

namespace hopwell::testing {
namespace {

namespace logging = boost::log;

// One process-wide backend: captures are nested scopes over it.
class CaptureBackend : public logging::sinks::basic_sink_backend<logging::sinks::synchronized_feeding> {
 public:
  void consume(const logging::record_view& record) {
    CapturedRecord captured;
    if (auto severity = record[logging::trivial::severity]) {
      captured.severity = logging::trivial::to_string(*severity);
    }
    if (auto message = record[logging::expressions::smessage]) captured.message = *message;
    std::lock_guard lock(lock_);
    if (active_ > 0) records_.push_back(std::move(captured));
  }

  std::mutex lock_;
  int active_ = 0;
  std::vector<CapturedRecord> records_;
};

CaptureBackend& Backend() {
  static boost::shared_ptr<CaptureBackend> backend = [] {
    auto created = boost::make_shared<CaptureBackend>();
    auto sink = boost::make_shared<logging::sinks::synchronous_sink<CaptureBackend>>(created);
    logging::core::get()->add_sink(sink);
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

void InstallCaptureSink() { Backend(); }

}  // namespace hopwell::testing
