#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/log/trivial.hpp>

namespace hopwell {

using Severity = boost::log::trivial::severity_level;

// A thread-safe severity log source. Every class that logs owns one.
using LogSource = boost::log::sources::severity_logger_mt<Severity>;

// HW_LOG(source, info) << "text";
#define HW_LOG(source, level) BOOST_LOG_SEV(source, ::boost::log::trivial::level)

// Sets up the rotating log files in `folder` (the client's log folder, made by the caller).
// Called once at start-up.
void InitLogging(const boost::filesystem::path& folder);

// Deletes every regular file in `folder` last written more than three days ago.
void RemoveOldLogFiles(const boost::filesystem::path& folder);

// Flushes every sink so that the current log file holds everything logged so far.
void FlushLog();

}  // namespace hopwell
