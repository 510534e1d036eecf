#include "support/CurrentLogFile.h"

#include <ctime>
#include <regex>

#include <boost/filesystem/operations.hpp>

#include "base/Logging.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {
namespace fs = boost::filesystem;
}

// Directory order is unspecified here (unlike on file systems that list names sorted), so
// the newest matching file is chosen explicitly.
fs::path NewestLogFileIn(const fs::path& folder) {
  static const std::regex pattern("Hopwell_\\d{5}.log", std::regex::ECMAScript);
  fs::path best;
  std::time_t bestTime = 0;
  boost::system::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return {};
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    if (!std::regex_match(name, pattern)) continue;
    if (!fs::is_regular_file(it->status(error)) || error) continue;
    const auto size = fs::file_size(path, error);
    if (error || size == 0) continue;
    const std::time_t written = fs::last_write_time(path, error);
    if (error) continue;
    if (best.empty() || written > bestTime ||
        (written == bestTime && name > best.filename().string())) {
      best = path;
      bestTime = written;
    }
  }
  return best;
}

fs::path CurrentLogFile() {
  FlushLog();
  try {
    return NewestLogFileIn(LogFolder());
  } catch (const fs::filesystem_error&) {
    return {};
  }
}

}  // namespace hopwell
