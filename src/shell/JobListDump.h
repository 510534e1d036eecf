#pragma once

#include <vector>

#include <boost/filesystem/path.hpp>

#include "intake/JobStatus.h"

namespace hopwell {

// Writes one line per job, oldest first: state number, a tab, the description, a tab, the
// last message (line breaks flattened). The file is replaced in one step, so a reader never
// sees half a list. Used by test scripts to watch a running client; false when it cannot
// be written.
bool WriteJobListDump(const boost::filesystem::path& file, const std::vector<JobPtr>& jobs);

}  // namespace hopwell
