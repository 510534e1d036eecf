#include "apps/LaunchApplication.h"

#include <cerrno>

#include "apps/SpawnProgram.h"
#include "base/Logging.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

LogSource& LaunchLog() {
  static LogSource source;
  return source;
}

// Any value above 32 reports success, as the platform's own start call does.
constexpr int kStarted = 42;

int StartFailure(int error) {
  switch (error) {
    case ENOENT:
      return 2;
    case ENOTDIR:
      return 3;
    case EACCES:
    case EPERM:
      return 5;
    case ENOMEM:
      return 8;
    default:
      return 31;
  }
}

}  // namespace

int LaunchApplication(const boost::filesystem::path& application,
                      const boost::filesystem::path& document) {
  const boost::filesystem::path longDocument = LongPathName(document);
  HW_LOG(LaunchLog(), info) << "ShellExecute \"" << application.string() << "\" \""
                            << longDocument.string() << "\"";
  int error = 0;
  if (SpawnProgram(application, {longDocument.string()}, {}, &error) < 0) {
    return StartFailure(error);
  }
  return kStarted;
}

}  // namespace hopwell
