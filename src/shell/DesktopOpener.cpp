#include "shell/DesktopOpener.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include <boost/algorithm/string/split.hpp>
#include <boost/filesystem/path.hpp>

#include "apps/SpawnProgram.h"

namespace hopwell {
namespace {

boost::filesystem::path FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::vector<std::string> folders;
  boost::split(folders, std::string(path), [](char c) { return c == ':'; });
  for (const std::string& folder : folders) {
    if (folder.empty() || folder.front() != '/') continue;  // never the working folder
    const boost::filesystem::path candidate = boost::filesystem::path(folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

}  // namespace

bool OpenWithDesktop(const std::string& target, std::chrono::milliseconds wait) {
  const boost::filesystem::path opener = FindOnPath("xdg-open");
  if (opener.empty()) return false;
  SpawnOptions options;
  options.reap = false;
  const pid_t pid = SpawnProgram(opener, {target}, options);
  if (pid < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (ended < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ReapInBackground(pid);
  return true;
}

}  // namespace hopwell
