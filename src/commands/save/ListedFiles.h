#pragma once

#include <boost/filesystem/path.hpp>

#include "commands/save/SaveRequest.h"
#include "intake/JobStatus.h"

namespace hopwell {

// True when path, with its links resolved, lies below folder (not folder itself).
[[nodiscard]] bool IsInsideFolder(const boost::filesystem::path& path,
                                  const boost::filesystem::path& folder);

// True when the entry at path itself (a link as the link, not what it points to) lies below
// folder: its parent folder is resolved, its own name is not.
[[nodiscard]] bool EntryIsInsideFolder(const boost::filesystem::path& path,
                                       const boost::filesystem::path& folder);

// Checks every file of every archive before anything is zipped: it exists, it lies in the
// client's temporary root (the chapters' working folders), and its entry name stays inside
// the archive when unpacked. The first problem fails the job with a message naming the file.
[[nodiscard]] bool CheckListedFiles(const SaveRequest& request, JobStatus& job);

}  // namespace hopwell
