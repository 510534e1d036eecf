// Stand-in for the editing application (InDesign / InCopy) in tests and the demo. It is a
// real executable, so the client's process scan finds it while it runs.
//
// Usage: InDesign.exe [--record FILE] [--stay SECONDS] [--] [DOCUMENT...]
//
// Configuration (an option wins over its environment variable):
//   --record FILE / HOPWELL_STANDIN_RECORD   record file; default "$TMPDIR/hopwell-standin.log"
//                                            ("/tmp" when TMPDIR is unset)
//   --stay SECONDS / HOPWELL_STANDIN_STAY     keep running that long (fractions allowed),
//                                            default 0; SIGTERM or SIGINT end the wait early
//
// Every start appends one line to the record file: the process id, then each argument after
// the options, separated by TAB; in fields "\\", TAB and line feed are written as "\\\\",
// "\\t" and "\\n". The line is written with one append, so concurrent starts do not mix.
// Then the stand-in waits out its stay and exits with 0 (2 for a usage error, 1 when the
// record could not be written).
//
// Further roles (for example the platform plug-in's side) hook in after RecordStart.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
  g_stop = 1;
}

struct Options {
  std::string record;
  double staySeconds = 0;
  std::vector<std::string> documents;
};

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

bool ParseSeconds(const std::string& text, double& seconds) {
  char* end = nullptr;
  seconds = std::strtod(text.c_str(), &end);
  return !text.empty() && end != nullptr && *end == '\0' && seconds >= 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  options.record =
      EnvOr("HOPWELL_STANDIN_RECORD", EnvOr("TMPDIR", "/tmp") + "/hopwell-standin.log");
  if (!ParseSeconds(EnvOr("HOPWELL_STANDIN_STAY", "0"), options.staySeconds)) return false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--record" && i + 1 < argc) {
      options.record = argv[++i];
    } else if (arg == "--stay" && i + 1 < argc) {
      if (!ParseSeconds(argv[++i], options.staySeconds)) return false;
    } else {
      break;
    }
  }
  options.documents.assign(argv + i, argv + argc);
  return true;
}

std::string Escape(const std::string& field) {
  std::string out;
  for (char c : field) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

bool RecordStart(const Options& options) {
  std::string line = std::to_string(::getpid());
  for (const std::string& document : options.documents) line += '\t' + Escape(document);
  line += '\n';
  const int fd = ::open(options.record.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const ssize_t written = ::write(fd, line.data(), line.size());
  ::close(fd);
  return written == static_cast<ssize_t>(line.size());
}

void Stay(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(seconds));
  while (g_stop == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--record FILE] [--stay SECONDS] [--] [DOCUMENT...]\n",
                 argv[0]);
    return 2;
  }
  if (!RecordStart(options)) {
    std::perror(options.record.c_str());
    return 1;
  }
  Stay(options.staySeconds);
  return 0;
}
