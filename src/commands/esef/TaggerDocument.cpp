// The report document the tagger opens, and the mapping file put beside it.
#include <boost/filesystem/operations.hpp>

#include "commands/esef/EsefCmd.h"
#include "storage/SafePath.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

// Byte for byte, so the comparison is case-sensitive.
bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

}  // namespace

fs::path EsefCmd::FindByEnding(const fs::path& folder, const std::vector<std::string>& endings) {
  boost::system::error_code error;
  for (const std::string& ending : endings) {
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      if (EndsWith(it->path().string(), ending)) return it->path();
    }
  }
  return {};
}

fs::path EsefCmd::FindTaggerDocument(const fs::path& folder) {
  return FindByEnding(folder, {".pdf", ".epub"});
}

fs::path EsefCmd::FindMappingFile(const fs::path& folder) {
  return FindByEnding(folder, {".pdf.mapping", ".etm"});
}

std::string EsefCmd::MappingExtension(const fs::path& path) {
  return EndsWith(path.string(), ".pdf.mapping") ? ".pdf.mapping" : ".etm";
}

bool EsefCmd::RestoreMappings(const fs::path& document, const fs::path& folder) {
  const fs::path mapping = FindMappingFile(folder);
  if (mapping.empty()) return true;
  const auto target =
      JoinChecked(document.parent_path(), document.stem().string() + MappingExtension(mapping));
  boost::system::error_code error;
  if (target) {
    HW_LOG(log_, info) << "    Renaming " << mapping << " to " << *target;
    fs::rename(mapping, *target, error);
  } else {
    error = make_error_code(boost::system::errc::invalid_argument);
  }
  if (!target || error) {
    HW_LOG(log_, error) << "    Failed to rename " << mapping << " to "
                        << target.value_or(document.stem()) << ": " << error.message();
    job_->JobFailed("Failed to restore the mappings");
    return false;
  }
  return true;
}

}  // namespace hopwell
