#include "shell/Logging.h"

#include <chrono>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/filesystem.hpp>
#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/support/date_time.hpp>
#include <boost/log/utility/setup/common_attributes.hpp>
#include <boost/make_shared.hpp>

#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
namespace logging = boost::log;
namespace sinks = boost::log::sinks;
namespace expr = boost::log::expressions;
namespace keywords = boost::log::keywords;

constexpr std::uintmax_t kRotationSize = 1024 * 1024;
constexpr std::uintmax_t kCollectedMaxSize = 16 * 1024 * 1024;
constexpr std::uintmax_t kMinFreeSpace = 100 * 1024 * 1024;
constexpr std::time_t kMaxLogAgeSeconds = 259200;

LogSource& LoggingLog() {
  static LogSource source;
  return source;
}

}  // namespace

void RemoveOldLogFiles() {
  try {
    const fs::path folder = LogFolder();
    const std::time_t cutoff = std::time(nullptr) - kMaxLogAgeSeconds;
    std::vector<fs::path> stale;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      if (fs::is_regular_file(entry.status()) && fs::last_write_time(entry.path()) < cutoff) {
        stale.push_back(entry.path());
      }
    }
    for (const fs::path& path : stale) {
      HW_LOG(LoggingLog(), trace) << "Deleting " << path;
      fs::remove(path);
    }
  } catch (const fs::filesystem_error& error) {
    HW_LOG(LoggingLog(), error) << "RemoveOldLogFiles failed " << error.what();
  }
}

void InitLogging() {
  RemoveOldLogFiles();

  const fs::path folder = LogFolder();
  using Backend = sinks::text_file_backend;
  auto backend = boost::make_shared<Backend>(
      keywords::file_name = (folder / "Hopwell_%5N.log").string(),
      keywords::rotation_size = kRotationSize,
      keywords::open_mode = std::ios_base::out | std::ios_base::trunc,
      keywords::auto_newline_mode = sinks::insert_if_missing,
      keywords::enable_final_rotation = true, keywords::auto_flush = false);

  using Sink = sinks::synchronous_sink<Backend>;
  auto sink = boost::make_shared<Sink>(backend);
  {
    auto locked = sink->locked_backend();
    locked->set_file_collector(sinks::file::make_collector(
        keywords::target = folder.string(), keywords::max_size = kCollectedMaxSize,
        keywords::min_free_space = kMinFreeSpace));
    locked->scan_for_files(sinks::file::scan_matching, true);
  }

  logging::add_common_attributes();
  sink->set_formatter(
      expr::stream << expr::format_date_time<boost::posix_time::ptime>("TimeStamp",
                                                                       "%Y-%m-%d %H:%M:%S.%f")
                   << " ["
                   << expr::attr<logging::attributes::current_thread_id::value_type>("ThreadID")
                   << "]: <" << logging::trivial::severity << "> " << expr::smessage);

  auto core = logging::core::get();
  core->add_sink(sink);
  core->set_filter(logging::trivial::severity >= logging::trivial::info);
}

void FlushLog() { logging::core::get()->flush(); }

}  // namespace hopwell
