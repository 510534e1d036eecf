#pragma once

#include <boost/filesystem/path.hpp>

namespace hopwell {

// The log file this run writes to: flushes the log, then takes, among the non-empty regular
// files in LogFolder() whose whole name matches "Hopwell_\d{5}.log", the one written last
// (the greater name on a tie). Empty when there is none or the folder cannot be read.
boost::filesystem::path CurrentLogFile();

// The same choice within `folder`, without flushing (tests).
boost::filesystem::path NewestLogFileIn(const boost::filesystem::path& folder);

}  // namespace hopwell
