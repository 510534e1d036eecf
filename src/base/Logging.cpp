#include "base/Logging.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <boost/filesystem.hpp>
#include <boost/log/attributes/counter.hpp>
#include <boost/log/attributes/current_process_id.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions/keyword.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/expressions/predicates.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/make_shared.hpp>
#include <boost/phoenix/operator/comparison.hpp>

#include "base/LogFailure.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
namespace logging = boost::log;
namespace sinks = boost::log::sinks;
namespace expr = boost::log::expressions;
namespace attrs = boost::log::attributes;
namespace keywords = boost::log::keywords;

constexpr std::uintmax_t kRotationSize = 1024 * 1024;
constexpr std::uintmax_t kCollectedMaxSize = 16 * 1024 * 1024;
constexpr std::uintmax_t kMinFreeSpace = 100 * 1024 * 1024;
constexpr std::time_t kMaxLogAgeSeconds = 259200;

LogSource& LoggingLog() {
  static LogSource source;
  return source;
}

// The fixed-width head of a line, "YYYY-MM-DD HH:MM:SS.ffffff [0x0000a1b2]: <", kept per
// thread: the date and time text is made once per second, the thread part once.
struct LineHead {
  static constexpr std::size_t kMicros = 20;  // where the six fractional digits go
  static constexpr std::size_t kSize = 42;
  std::time_t second = -1;
  char text[kSize + 1] = {};

  LineHead() {
    // The kernel's id of the thread, as ps -L, debuggers and crash records show it.
    std::snprintf(text + 26, sizeof text - 26, " [0x%08x]: <", static_cast<unsigned>(::gettid()));
  }
  void Stamp(const timespec& now) {
    if (now.tv_sec != second) {
      std::tm local{};
      ::localtime_r(&now.tv_sec, &local);
      std::strftime(text, 20, "%Y-%m-%d %H:%M:%S", &local);
      text[19] = '.';
      second = now.tv_sec;
    }
    long micros = now.tv_nsec / 1000;
    for (std::size_t i = kMicros + 5; i + 1 > kMicros; --i) {
      text[i] = static_cast<char>('0' + micros % 10);
      micros /= 10;
    }
  }
};

// One line: "2026-03-14 09:26:53.589793 [0x0000a1b2]: <info> message". The time and the
// thread are taken here: the sink is synchronous, so this runs on the issuing thread as the
// record is pushed, and it saves a clock attribute and its local-time conversion per record.
void FormatLine(const logging::record_view& record, logging::formatting_ostream& out) {
  thread_local LineHead head;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  head.Stamp(now);
  out.write(head.text, LineHead::kSize);
  if (const auto severity = record[logging::trivial::severity]) {
    if (const char* name = logging::trivial::to_string(*severity))
      out.write(name, std::strlen(name));
  }
  out.write("> ", 2);
  if (const auto message = record[expr::smessage]) out.write(message->data(), message->size());
}

}  // namespace

void RemoveOldLogFiles(const fs::path& folder) {
  try {
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

void InitLogging(const fs::path& folder) {
  auto core = logging::core::get();
  // Until the file sink is in place, records go nowhere: without any sink the library would
  // print them on the console.
  core->set_logging_enabled(false);
  RemoveOldLogFiles(folder);

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

  // Time stamp and thread come from the formatter (FormatLine).
  core->add_global_attribute("LineID", attrs::counter<unsigned>(1));
  core->add_global_attribute("ProcessID", attrs::current_process_id());
  sink->set_formatter(&FormatLine);
  // A log file that cannot be opened or written leaves the client running, logging nowhere.
  sink->set_exception_handler([] { NoteLogFailure(); });

  core->add_sink(sink);
  core->set_filter(logging::trivial::severity >= logging::trivial::info);
  core->set_logging_enabled(true);
}

void FlushLog() {
  logging::core::get()->flush();
}

}  // namespace hopwell
