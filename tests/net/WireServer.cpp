#include "net/WireServer.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <boost/filesystem/operations.hpp>

#include "common/SimulatorProcess.h"

extern char** environ;

namespace hopwell::testing {
namespace fs = boost::filesystem;
namespace {

// From the checkout, not __FILE__: with ccache's base folder that path is relative to the
// build folder, which is not where ctest runs the test programs.
std::string ScriptPath() {
  return (SimulatorProcess::SourceDir() / "tests" / "net" / "wire_server.py").string();
}

// Reads one line from fd within the deadline; empty on timeout or end of stream.
std::string ReadLine(int fd, int timeoutMs) {
  std::string line;
  char c = 0;
  while (true) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return {};
    if (::read(fd, &c, 1) != 1) return {};
    if (c == '\n') return line;
    line.push_back(c);
  }
}

}  // namespace

WireServer::WireServer(const std::string& cert, const std::string& key) : secure_(!cert.empty()) {
  int fds[2];
  if (::pipe(fds) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<std::string> args{"python3", ScriptPath(), "--record-dir", records_.path().string()};
  if (secure_) args.insert(args.end(), {"--cert", cert, "--key", key});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) {
    pid_ = -1;
    ::close(fds[0]);
    return;
  }
  const std::string line = ReadLine(fds[0], 10000);
  ::close(fds[0]);
  if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
}

WireServer::~WireServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

std::string WireServer::Origin() const {
  return std::string(secure_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> WireServer::Requests() const {
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(records_.path())) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> requests;
  for (const fs::path& file : files) requests.push_back(ReadFile(file));
  return requests;
}

TestCertificates::TestCertificates(const fs::path& folder) {
  caFile = (folder / "ca.pem").string();
  const std::string caKey = (folder / "ca.key").string();
  certFile = (folder / "server.pem").string();
  keyFile = (folder / "server.key").string();
  const std::string csr = (folder / "server.csr").string();
  const std::string ext = (folder / "server.ext").string();
  WriteFile(ext, "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
  const std::string quiet = " >/dev/null 2>&1";
  const std::string commands[] = {
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=HopwellTestCA -keyout " + caKey +
          " -out " + caFile + quiet,
      "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + keyFile + " -out " +
          csr + quiet,
      "openssl x509 -req -in " + csr + " -CA " + caFile + " -CAkey " + caKey +
          " -CAcreateserial -days 2 -extfile " + ext + " -out " + certFile + quiet,
  };
  ok = true;
  for (const std::string& command : commands) ok = ok && std::system(command.c_str()) == 0;
}

}  // namespace hopwell::testing
