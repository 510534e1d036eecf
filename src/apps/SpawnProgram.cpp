#include "apps/SpawnProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <memory>
#include <thread>

#include "storage/FileModes.h"

extern char** environ;

namespace hopwell {
namespace {

struct FileActions {
  posix_spawn_file_actions_t actions;
  bool ready = posix_spawn_file_actions_init(&actions) == 0;
  FileActions() = default;
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  ~FileActions() {
    if (ready) posix_spawn_file_actions_destroy(&actions);
  }
};

}  // namespace

pid_t SpawnProgram(const boost::filesystem::path& program,
                   const std::vector<std::string>& arguments, const SpawnOptions& options,
                   int* error) {
  std::vector<std::string> strings;
  strings.reserve(arguments.size() + 1);
  strings.push_back(program.string());
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : strings) argv.push_back(text.data());
  argv.push_back(nullptr);

  FileActions files;
  int result = files.ready ? 0 : ENOMEM;
  if (result == 0) {
    result = posix_spawn_file_actions_addopen(&files.actions, 0, "/dev/null", O_RDONLY, 0);
  }
  // Descriptors of the client (its instance lock among them) must not live on in the child.
  if (result == 0) result = posix_spawn_file_actions_addclosefrom_np(&files.actions, 3);
  if (result == 0 && !options.workingFolder.empty()) {
    result = posix_spawn_file_actions_addchdir_np(&files.actions, options.workingFolder.c_str());
  }
  pid_t pid = -1;
  if (result == 0) {
    const StartedProgramMask userMask;
    result =
        posix_spawn(&pid, strings.front().c_str(), &files.actions, nullptr, argv.data(), environ);
  }
  if (result != 0) {
    if (error != nullptr) *error = result;
    return -1;
  }
  if (options.reap) ReapInBackground(pid);
  return pid;
}

void ReapInBackground(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace hopwell
