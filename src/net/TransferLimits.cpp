#include "net/TransferLimits.h"

#include <cstdlib>
#include <string>

namespace hopwell {
namespace {

// A positive whole number of seconds from the environment, else the fallback.
std::chrono::milliseconds SecondsFromEnv(const char* name, std::chrono::milliseconds fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return fallback;
  char* end = nullptr;
  const long seconds = std::strtol(value, &end, 10);
  if (*end != '\0' || seconds <= 0 || seconds > 24 * 3600) return fallback;
  return std::chrono::seconds(seconds);
}

}  // namespace

const TransferLimits& DefaultTransferLimits() {
  static const TransferLimits limits = [] {
    TransferLimits read;
    read.connect = SecondsFromEnv("HOPWELL_CONNECT_TIMEOUT", read.connect);
    read.idle = SecondsFromEnv("HOPWELL_IDLE_TIMEOUT", read.idle);
    return read;
  }();
  return limits;
}

}  // namespace hopwell
