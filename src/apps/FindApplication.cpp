#include "apps/FindApplication.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "apps/ShellLink.h"
#include "base/Logging.h"
#include "storage/LocalFolders.h"
#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

LogSource& SearchLog() {
  static LogSource source;
  return source;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool FileExists(const fs::path& path) {
  boost::system::error_code ignored;
  return !path.empty() && fs::exists(path, ignored);
}

// The shortcut itself, not its target (a dangling one is reported as such). A name too long
// for the file system, or a folder that cannot be searched, counts as no shortcut.
bool ShortcutExists(const fs::path& shortcut) {
  boost::system::error_code ignored;
  return fs::exists(fs::symlink_status(shortcut, ignored));
}

std::vector<std::string> RegistryKeys(AppCmdParameters& parameters, bool additional) {
  if (additional) return {parameters.AdditionalAppQuery()};
  std::vector<std::string> keys;
  const std::string query = parameters.AppQuery();
  std::size_t start = 0;
  while (start <= query.size()) {
    const std::size_t bar = std::min(query.find('|', start), query.size());
    if (bar > start) keys.push_back(query.substr(start, bar - start));
    start = bar + 1;
  }
  return keys;
}

// Step 7: the shortcut, when there is one. Returns the target when it is the application.
fs::path FromShortcut(const fs::path& shortcut, const std::string& expectedExe) {
  LogSource& log = SearchLog();
  HW_LOG(log, info) << "Shortcut file found at location  : " << shortcut.string();
  const fs::path target = ResolveShortcut(shortcut);
  if (!FileExists(target)) {
    HW_LOG(log, info) << "Application NOT found at Shortcut target file : " << target.string();
    return {};
  }
  if (Lower(target.string()).find(expectedExe) != std::string::npos) {
    HW_LOG(log, info) << "Application found at Shortcut target file : " << target.string();
    return target;
  }
  HW_LOG(log, info) << "Invalid Shortcut target file : " << target.string()
                    << (expectedExe == "indesign.exe" ? " unable to find InDesign.exe"
                                                      : " unable to find InCopy.exe");
  return {};
}

}  // namespace

fs::path FindApplication(AppCmdParameters& parameters, bool additional) {
  LogSource& log = SearchLog();
  const std::string name = additional ? parameters.AdditionalAppName() : parameters.AppName();
  const std::string usualPath =
      additional ? parameters.AdditionalAppDefaultPath() : parameters.AppDefaultPath();
  const std::vector<std::string> keys = RegistryKeys(parameters, additional);
  const std::string expectedExe =
      Lower(name).find("indesign") != std::string::npos ? "indesign.exe" : "incopy.exe";
  // The name is the server's word: it may only name a file directly in AppDataRoot.
  const std::optional<fs::path> shortcut = JoinChecked(AppDataRoot(), name + ".lnk");

  HW_LOG(log, info) << "Finding Application : " << name;
  if (FileExists(usualPath)) {
    HW_LOG(log, info) << "Application found at default path : " << usualPath;
    return usualPath;
  }
  HW_LOG(log, info) << "Application NOT found at Default Path : " << usualPath;

  if (!shortcut) {
    HW_LOG(log, warning) << "Refused application name " << name << " as a shortcut name";
  } else if (ShortcutExists(*shortcut)) {
    if (fs::path target = FromShortcut(*shortcut, expectedExe); !target.empty()) return target;
  } else {
    HW_LOG(log, info) << "If Application is not installed at Default Path then create a "
                         "shortcut at following location -\n"
                      << shortcut->string();
  }

  for (const std::string& key : keys) {
    const std::string path = QueryRegistry(key);
    if (!path.empty() && FileExists(path)) {
      HW_LOG(log, info) << "Application found from Windows Registry at location :" << path;
      return path;
    }
  }
  HW_LOG(log, info) << "Application not found from Windows Registry.";
  HW_LOG(log, info) << "Search Completed. Application not found : " << name;
  return {};
}

}  // namespace hopwell
