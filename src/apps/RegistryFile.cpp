// QueryRegistry: the registry of this platform is a read-only text file of sections named
// after key paths, each with its default value on an "@=" line:
//
//   [SOFTWARE\Adobe\InDesign\Version 17.0]
//   @=/opt/adobe/InDesign.exe
//
// $XDG_CONFIG_HOME/Kelv/registry.ini is searched first (the 64-bit view), then
// /etc/xdg/Kelv/registry.ini (the 32-bit view). Key paths compare without regard to ASCII
// letter case, as registry keys do.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include <boost/filesystem/path.hpp>

#include "apps/FindApplication.h"
#include "base/Logging.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// The default value is read into a buffer of this size, terminator included.
constexpr std::size_t kValueBufferSize = 1024;

LogSource& RegistryLog() {
  static LogSource source;
  return source;
}

fs::path UserRegistryFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config == '/') return fs::path(config) / "Kelv" / "registry.ini";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home == '/') return fs::path(home) / ".config" / "Kelv" / "registry.ini";
  return {};
}

bool SameKey(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

void StripLineEnd(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

// What one file says about a key: nothing when the key is not there; the key with no value
// when it has no "@=" line.
struct KeyLookup {
  bool keyFound = false;
  std::optional<std::string> value;
};

KeyLookup LookUp(const fs::path& file, const std::string& keyPath) {
  KeyLookup result;
  if (file.empty()) return result;
  std::ifstream in(file.string(), std::ios::binary);
  std::string line;
  bool inKey = false;
  while (std::getline(in, line)) {
    StripLineEnd(line);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    if (line[first] == '[') {
      if (result.keyFound) break;
      const std::size_t close = line.rfind(']');
      inKey = close != std::string::npos && close > first &&
              SameKey(line.substr(first + 1, close - first - 1), keyPath);
      result.keyFound = inKey;
    } else if (inKey && line.compare(first, 2, "@=") == 0) {
      result.value = line.substr(first + 2);
      break;
    }
  }
  return result;
}

}  // namespace

std::string QueryRegistry(const std::string& keyPath) {
  LogSource& log = RegistryLog();
  HW_LOG(log, info) << "Searching for Query - " << keyPath;
  KeyLookup lookup = LookUp(UserRegistryFile(), keyPath);
  if (!lookup.keyFound) lookup = LookUp("/etc/xdg/Kelv/registry.ini", keyPath);
  if (!lookup.keyFound) {
    HW_LOG(log, error) << "Failed to open registry key " << keyPath;
    return {};
  }
  if (!lookup.value) {
    HW_LOG(log, error) << "Failed to read registry key " << keyPath;
    return {};
  }
  std::string value = std::move(*lookup.value);
  // The buffer holds a zero-terminated string: a NUL ends it, and it holds 1023 bytes.
  value = value.substr(0, std::min(value.find('\0'), kValueBufferSize - 1));
  HW_LOG(log, info) << "Found " << value;
  return value;
}

}  // namespace hopwell
