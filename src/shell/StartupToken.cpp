#include "shell/StartupToken.h"

#include <algorithm>
#include <cstdlib>

namespace hopwell {
namespace {

bool Acceptable(std::string_view value) {
  return !value.empty() && value.size() <= StartupToken::kMaxBytes &&
         std::all_of(value.begin(), value.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

StartupToken Make(const char* variable, std::string_view value) {
  if (!Acceptable(value)) return {};
  return StartupToken{variable, std::string(value)};
}

}  // namespace

unsigned long StartupToken::X11Time() const {
  const std::size_t at = value.rfind("_TIME");
  if (variable != kX11 || at == std::string::npos) return 0;
  const std::string digits = value.substr(at + 5);
  if (digits.empty() || digits.size() > 10 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  return std::strtoul(digits.c_str(), nullptr, 10);
}

StartupToken StartupTokenFromEnvironment() {
  for (const char* variable : {StartupToken::kWayland, StartupToken::kX11}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return Make(variable, value);
  }
  return {};
}

std::string EncodeStartupToken(const StartupToken& token) {
  if (token.Empty()) return {};
  return token.variable + "=" + token.value;
}

StartupToken DecodeStartupToken(std::string_view text) {
  for (const char* variable : {StartupToken::kWayland, StartupToken::kX11}) {
    const std::string prefix = std::string(variable) + "=";
    if (text.substr(0, prefix.size()) == prefix) return Make(variable, text.substr(prefix.size()));
  }
  return {};
}

}  // namespace hopwell
