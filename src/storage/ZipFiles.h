#pragma once

#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "intake/JobStatus.h"

namespace hopwell {

// Creates archive from sources, storing source i under entryNames[i] (unchanged, flagged
// as UTF-8), deflated at level 6 with each file's last-write time. Every failure marks the
// job failed with its message and the other files are still added; progressShare is added
// to the job's progress at the end. True when the last file was added without error and
// the archive was completed.
bool ZipFiles(const std::vector<boost::filesystem::path>& sources,
              const std::vector<std::string>& entryNames, const boost::filesystem::path& archive,
              double progressShare, const JobPtr& job);

// The first folder / "cgu_<documentId>_<n>.zip" (n = 0, 1, ...) that does not exist; an
// empty path when the identifier cannot be part of a file name.
boost::filesystem::path NextArchiveName(const boost::filesystem::path& folder,
                                        const std::string& documentId);

}  // namespace hopwell
