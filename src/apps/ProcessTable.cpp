#include "apps/ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

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

struct FileId {
  dev_t device;
  ino_t inode;
};

// What the text of /proc/PID/exe must end in for the process to be worth a stat: "/" and the
// last component of the application's canonical path. The kernel shows the name the file was
// reached by; with a single link (and no bind mount of the file itself under another name)
// that is this one, whatever path the process was started under. A file with more links may
// show under any of them: then every process is looked at.
std::string ExeSuffix(const char* application, nlink_t links) {
  if (links != 1) return {};
  std::unique_ptr<char, decltype(&std::free)> canonical(::realpath(application, nullptr),
                                                        &std::free);
  if (!canonical) return {};
  const char* slash = std::strrchr(canonical.get(), '/');
  return slash != nullptr ? std::string(slash) : std::string();
}

// The identity of the file at path (relative to folder), links followed.
bool IdentityIs(int folder, const char* path, const FileId& wanted) {
  struct stat status {};
  return ::fstatat(folder, path, &status, 0) == 0 && status.st_dev == wanted.device &&
         status.st_ino == wanted.inode;
}

bool IsPid(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

// The process runs the script: the first argument after the program that is not an option
// ("-e", "-S python3 -u", "--") is the script file. A relative one is taken from the process's
// working folder. An interpreter given code ("sh -c CODE script") has the code there instead.
bool RunsScript(int proc, const char* pid, const FileId& script) {
  std::array<char, 64> path{};
  if (std::snprintf(path.data(), path.size(), "%s/cmdline", pid) >= static_cast<int>(path.size())) {
    return false;
  }
  FdCloser file{::openat(proc, path.data(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return false;
  // Interpreter options are short; a script that only appears later is not found.
  std::array<char, 8192> buffer{};
  const ssize_t length = ::read(file.fd, buffer.data(), buffer.size());
  if (length <= 0) return false;
  const char* const end = buffer.data() + length;
  const char* argument = buffer.data();
  for (bool program = true;; program = false) {
    const auto* argumentEnd = static_cast<const char*>(std::memchr(argument, '\0', end - argument));
    if (argumentEnd == nullptr) return false;
    if (!program && *argument != '-' && argumentEnd != argument) break;
    argument = argumentEnd + 1;
    if (argument >= end) return false;
  }
  if (*argument == '/') return IdentityIs(AT_FDCWD, argument, script);
  const std::string relative = std::string(pid) + "/cwd/" + argument;
  return IdentityIs(proc, relative.c_str(), script);
}

// Only a script ("#!" first) runs under an interpreter; for anything else the executable
// alone decides, and no command line needs reading.
bool IsScript(const char* application) {
  // Non-blocking, in case the file is replaced by a FIFO after it was looked at.
  FdCloser file{::open(application, O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  char head[2] = {};
  return file.fd >= 0 && ::read(file.fd, head, sizeof head) == 2 && head[0] == '#' &&
         head[1] == '!';
}

}  // namespace

int FindRunningProcess(const boost::filesystem::path& application,
                       const boost::filesystem::path& procRoot) {
  if (application.empty()) return 0;
  struct stat status {};
  // Only a regular file can be a running program; a FIFO is never opened.
  if (::stat(application.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  const FileId wanted{status.st_dev, status.st_ino};
  const std::string suffix = ExeSuffix(application.c_str(), status.st_nlink);
  std::unique_ptr<DIR, DirCloser> dir(::opendir(procRoot.c_str()));
  if (!dir) return 0;
  const int proc = ::dirfd(dir.get());
  const bool script = IsScript(application.c_str());
  std::array<char, 64> exe{};
  std::array<char, 4096> target{};
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!IsPid(entry->d_name)) continue;
    if (std::snprintf(exe.data(), exe.size(), "%s/exe", entry->d_name) >=
        static_cast<int>(exe.size())) {
      continue;
    }
    // Processes of other users cannot be looked at; vanished ones are gone.
    const ssize_t length = ::readlinkat(proc, exe.data(), target.data(), target.size());
    if (length <= 0) continue;
    const std::string_view shown(target.data(), static_cast<std::size_t>(length));
    if ((shown.ends_with(suffix) && IdentityIs(proc, exe.data(), wanted)) ||
        (script && RunsScript(proc, entry->d_name, wanted))) {
      return std::atoi(entry->d_name);
    }
  }
  return 0;
}

}  // namespace hopwell
