#pragma once

#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include <memory>

#include "base/WorkProgress.h"

namespace hopwell {

// What became of each file of an archive: why it is missing or incomplete in the archive
// (empty when its entry is complete), and why the archive itself could not be created or
// finished (empty when it was).
struct ZipOutcome {
  std::vector<std::string> fileErrors;  // one per source, in order
  std::string archiveError;

  // The traditional result: the last file was added and the archive finished. An earlier
  // file may still be missing or cut short.
  bool LastFileAdded() const;
  // Every file was added whole and the archive finished.
  bool AllAdded() const;
};

// Creates archive from sources, storing source i under entryNames[i] (unchanged, flagged
// as UTF-8), deflated at level 6 with each file's last-write time. Every failure marks the
// job failed with its message and the other files are still added; progressShare is added
// to the job's progress at the end.
ZipOutcome ZipEachFile(const std::vector<boost::filesystem::path>& sources,
                       const std::vector<std::string>& entryNames,
                       const boost::filesystem::path& archive, double progressShare,
                       const std::shared_ptr<IWorkProgress>& job);

// ZipEachFile(...).LastFileAdded(): true when the last file was added without error and the
// archive was completed, whatever became of the files before it.
bool ZipFiles(const std::vector<boost::filesystem::path>& sources,
              const std::vector<std::string>& entryNames, const boost::filesystem::path& archive,
              double progressShare, const std::shared_ptr<IWorkProgress>& job);

// The first folder / "cgu_<documentId>_<n>.zip" (n = 0, 1, ...) that does not exist; an
// empty path when the identifier cannot be part of a file name, or when it cannot be told
// whether a name is free (an error other than "not found").
boost::filesystem::path NextArchiveName(const boost::filesystem::path& folder,
                                        const std::string& documentId);

}  // namespace hopwell
