#include "shell/Startup.h"

#include <algorithm>

#include <boost/filesystem/exception.hpp>
#include <boost/format.hpp>

#include "Version.h"
#include "base/LogFailure.h"
#include "base/Logging.h"
#include "commands/RegisterCommands.h"
#include "commands/save/SaveLeftovers.h"
#include "storage/FileModes.h"
#include "storage/LocalFolders.h"

namespace hopwell {

std::string VersionLine() {
  std::string version = kFileVersion;
  std::replace(version.begin(), version.end(), '(', '{');
  std::replace(version.begin(), version.end(), ')', '}');
  return std::string("Kelvory Hopwell") + " version " + version + " " + kBuildRevision;
}

std::string StartCore() {
  // Logs, records and preferences are for the user alone, and so is every folder made below.
  MakeOwnFilesPrivate();
  if (std::string problem = PrepareLocalFolders(); !problem.empty()) return problem;
  try {
    InitLogging(LogFolder());
  } catch (const boost::filesystem::filesystem_error& error) {
    return (boost::format("Hopwell cannot use the folder %1%: %2%") % error.path1() %
            error.code().message())
        .str();
  }
  static LogSource log;
  // The first record opens the log file; one that cannot be opened must not end the client.
  try {
    HW_LOG(log, info) << VersionLine();
  } catch (...) {
    NoteLogFailure();
  }
  RegisterCommands();
  // Confirmed check-ins whose clean-up a crash cut short.
  FinishInterruptedSaves();
  return {};
}

}  // namespace hopwell
