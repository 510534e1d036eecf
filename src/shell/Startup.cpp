#include "shell/Startup.h"

#include <algorithm>

#include "Version.h"
#include "commands/RegisterCommands.h"
#include "shell/Logging.h"

namespace hopwell {

std::string VersionLine() {
  std::string version = kFileVersion;
  std::replace(version.begin(), version.end(), '(', '{');
  std::replace(version.begin(), version.end(), ')', '}');
  return std::string("Kelvory Hopwell") + " version " + version + " " + kBuildRevision;
}

void StartCore() {
  InitLogging();
  static LogSource log;
  HW_LOG(log, info) << VersionLine();
  RegisterCommands();
}

}  // namespace hopwell
