#include "commands/open/InddFile.h"

#include <ctime>
#include <random>
#include <string>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "commands/open/FileNames.h"
#include "commands/open/OpenCmdParameters.h"
#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr int kTemporaryNameAttempts = 100;

// Moves source to a free numeric name in its folder; source itself when none was found.
fs::path MoveAside(CommandContext& command, const fs::path& source) {
  std::minstd_rand random(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    const auto candidate = JoinChecked(source.parent_path(), std::to_string(random()));
    boost::system::error_code error;
    if (!candidate || fs::exists(*candidate, error)) continue;
    fs::rename(source, *candidate, error);
    if (error) continue;
    HW_LOG(command.log, info) << "Temporarily renaming file " << source << " to " << *candidate;
    return *candidate;
  }
  return source;
}

}  // namespace

fs::path PrepareInddFile(CommandContext& command, OpenCmdParameters& parameters,
                         const fs::path& source) {
  if (source.extension() != ".indd") return {};
  const std::string newName = SanitizeFileName(
      parameters, parameters.ChapterName() + "_v" + parameters.DocumentVersion() + ".indd");
  const auto checkedTarget = JoinChecked(source.parent_path(), newName);
  if (!checkedTarget) {
    command.job.JobFailed(boost::format("Couldn't rename file '%s' to '%s': %s") % source %
                          newName % "invalid file name");
    return {};
  }
  const fs::path& target = *checkedTarget;
  fs::path from = source;
  // Renaming a file onto a name that differs only in letter case would remove it on a file
  // system that ignores case; it goes through a temporary name first.
  if (boost::algorithm::iequals(from.filename().string(), newName)) from = MoveAside(command, from);
  if (from != target) {
    boost::system::error_code error;
    if (fs::exists(target, error)) {
      // A document still open elsewhere may refuse removal: reported, not thrown.
      const bool removed = fs::remove(target, error);
      if (!removed || error) {
        command.job.JobFailed(boost::format("Couldn't delete file %s") % target);
        return {};
      }
    }
    fs::rename(from, target, error);
    if (error) {
      command.job.JobFailed(boost::format("Couldn't rename file '%s' to '%s': %s") % from %
                            newName % error.message());
      return {};
    }
  }
  return target;
}

}  // namespace hopwell
