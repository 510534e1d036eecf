// Starting the XBRL tagger on the report document.
#include <sstream>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "apps/SpawnProgram.h"
#include "commands/esef/EsefCmd.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kTaggerProgram = "AMANA.XBRL.Tagger.Kelvory.exe";
// Any value above 32 reports a started program; 31 stands for a failure without a
// smaller code.
constexpr int kStarted = 42;
constexpr int kOtherFailure = 31;

}  // namespace

EsefCmd::TaggerLauncher DefaultTaggerLauncher() {
  return [](const fs::path& program, const std::vector<std::string>& arguments) {
    int error = 0;
    if (SpawnProgram(program, arguments, {}, &error) >= 0) return kStarted;
    return error > 0 && error < kOtherFailure ? error : kOtherFailure;
  };
}

bool EsefCmd::LaunchTagger(const fs::path& document) {
  // One argument: the path in the path library's quoted form, as the tagger expects it.
  std::ostringstream argument;
  argument << "-DocumentName=" << document;
  const fs::path program = TaggerFolder() / kTaggerProgram;
  boost::system::error_code error;
  if (!fs::is_regular_file(fs::status(program, error))) {
    job_->JobFailed(boost::format("The Kelvory XBRL Tagger is not installed, expected at %s.") %
                    program);
    HW_LOG(log_, warning) << "    The Kelvory XBRL Tagger is not installed, expected at "
                          << program;
    return false;
  }
  HW_LOG(log_, info) << "    Launching " << program << ": " << argument.str();
  const int result = launch_(program, {argument.str()});
  if (result > 32) return true;
  job_->JobFailed("Kelvory XBRL Tagger failed to start");
  HW_LOG(log_, warning) << "    The Kelvory XBRL Tagger failed to start: " << result;
  return false;
}

}  // namespace hopwell
