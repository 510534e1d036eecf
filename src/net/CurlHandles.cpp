#include "net/CurlHandles.h"

#include <mutex>

#include <fmt/format.h>

namespace hopwell {

bool EnsureCurlInitialized() {
  static std::once_flag once;
  static bool initialized = false;
  std::call_once(once, [] { initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return initialized;
}

std::string LogTransferError(LogSource& log, unsigned code, const std::string& description,
                             const std::string& detail) {
  std::string text = fmt::format("Logging error: 0x{:08X}", code);
  if (!description.empty()) {
    text += ' ';
    text += description;
    text += fmt::format("\n (Error Code: {:X})", code);
  }
  if (!detail.empty()) {
    text += '\n';
    text += detail;
  }
  HW_LOG(log, error) << text;
  return detail.empty() ? description : detail;
}

}  // namespace hopwell
