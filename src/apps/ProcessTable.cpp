#include "apps/ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace hopwell {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

bool IsPid(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

// The process's first argument (after the program) equals application: a script run by
// its interpreter.
bool FirstArgumentIs(const std::string& procEntry, const std::string& application) {
  FdCloser file{::open((procEntry + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return false;
  // The program name, a NUL, the first argument and its NUL; longer lines cannot match.
  std::array<char, 8192> buffer{};
  const ssize_t length = ::read(file.fd, buffer.data(), buffer.size());
  if (length <= 0) return false;
  const char* end = buffer.data() + length;
  const char* program = buffer.data();
  const char* programEnd = static_cast<const char*>(std::memchr(program, '\0', end - program));
  if (programEnd == nullptr) return false;
  const char* argument = programEnd + 1;
  const char* argumentEnd = static_cast<const char*>(std::memchr(argument, '\0', end - argument));
  return argumentEnd != nullptr &&
         std::string_view(argument, argumentEnd - argument) == application;
}

// Only a script ("#!" first) runs under an interpreter; for anything else the executable
// link alone decides, and no command line needs reading.
bool IsScript(const std::string& application) {
  // Non-blocking: a FIFO at that path must not stall the scan.
  FdCloser file{::open(application.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  char head[2] = {};
  return file.fd >= 0 && ::read(file.fd, head, sizeof head) == 2 && head[0] == '#' &&
         head[1] == '!';
}

}  // namespace

int FindRunningProcess(const boost::filesystem::path& application,
                       const boost::filesystem::path& procRoot) {
  const std::string wanted = application.string();
  if (wanted.empty()) return 0;
  std::unique_ptr<DIR, DirCloser> dir(::opendir(procRoot.c_str()));
  if (!dir) return 0;
  const std::string root = procRoot.string() + "/";
  const bool script = wanted.front() == '/' && IsScript(wanted);
  std::array<char, 4096> target{};
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!IsPid(entry->d_name)) continue;
    const std::string procEntry = root + entry->d_name;
    const ssize_t length = ::readlink((procEntry + "/exe").c_str(), target.data(), target.size());
    // Processes of other users cannot be read; vanished ones are gone.
    if (length <= 0) continue;
    if (std::string_view(target.data(), length) == wanted ||
        (script && FirstArgumentIs(procEntry, wanted))) {
      return std::atoi(entry->d_name);
    }
  }
  return 0;
}

}  // namespace hopwell
