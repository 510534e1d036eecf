#include "common/SimulatorProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

#include <boost/filesystem/operations.hpp>
// Property tree's JSON parser still includes the old bind header.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <curl/curl.h>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

extern char** environ;

namespace hopwell::testing {
namespace {

namespace fs = boost::filesystem;
namespace pt = boost::property_tree;

std::size_t AppendToString(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::vector<std::pair<std::string, std::string>> ReadPairs(const pt::ptree& list) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& item : list) {
    auto it = item.second.begin();
    if (item.second.size() != 2) continue;
    std::string name = it->second.data();
    ++it;
    pairs.emplace_back(std::move(name), it->second.data());
  }
  return pairs;
}

SimulatorRequest ReadRequest(const pt::ptree& entry) {
  SimulatorRequest request;
  request.scheme = entry.get<std::string>("scheme", "");
  request.method = entry.get<std::string>("method", "");
  request.target = entry.get<std::string>("target", "");
  request.path = entry.get<std::string>("path", "");
  request.query = entry.get<std::string>("query", "");
  if (auto params = entry.get_child_optional("query_params"))
    request.queryParams = ReadPairs(*params);
  if (auto headers = entry.get_child_optional("headers")) request.headers = ReadPairs(*headers);
  request.rawHead = FromHex(entry.get<std::string>("raw_head_hex", ""));
  if (auto body = entry.get_optional<std::string>("body_hex")) {
    request.body = FromHex(*body);
    request.bodyLogged = true;
  }
  request.bodyLength = entry.get<std::uint64_t>("body_length", 0);
  request.bodyCrc32 = entry.get<std::uint32_t>("body_crc32", 0);
  request.chunked = entry.get<std::string>("chunked", "false") == "true";
  request.status = entry.get<int>("status", 0);
  request.connection = entry.get<int>("connection", 0);
  request.bytesSent = entry.get<std::uint64_t>("bytes_sent", 0);
  if (auto modes = entry.get_child_optional("scenario")) {
    for (const auto& mode : *modes) request.scenario.push_back(mode.second.data());
  }
  return request;
}

}  // namespace

SimulatorProcess::SimulatorProcess(std::vector<std::string> extraArguments)
    : extraArguments_(std::move(extraArguments)) {
  static std::once_flag curlReady;
  std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

SimulatorProcess::~SimulatorProcess() {
  Stop();
}

fs::path SimulatorProcess::SourceDir() {
  if (const char* dir = std::getenv("HOPWELL_SOURCE_DIR"); dir && *dir) return dir;
  return HOPWELL_TEST_SOURCE_DIR;
}

fs::path SimulatorProcess::BinaryDir() {
  if (const char* dir = std::getenv("HOPWELL_BINARY_DIR"); dir && *dir) return dir;
  return HOPWELL_TEST_BINARY_DIR;
}

fs::path SimulatorProcess::CaFile() const {
  return BinaryDir() / "simulator-ca" / "ca.pem";
}

std::string SimulatorProcess::HttpBase() const {
  return "http://127.0.0.1:" + std::to_string(kHttpPort);
}

std::string SimulatorProcess::HttpsBase() const {
  return "https://127.0.0.1:" + std::to_string(kHttpsPort);
}

bool SimulatorProcess::Start(std::string* error) {
  if (pid_ > 0) return true;
  if (!Lock(error)) return false;
  // Simulators started without the lock (by hand, or by a script that does not take it)
  // are waited out as well, for as long as the lock would be.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  std::string reason;
  while (true) {
    const Attempt attempt = StartOnce(reason);
    if (attempt == Attempt::Started) return true;
    if (attempt == Attempt::Failed || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (error) *error = reason;
  Stop();
  return false;
}

SimulatorProcess::Attempt SimulatorProcess::StartOnce(std::string& reason) {
  if (Control("/_sim/health")) {
    reason = "another simulator already listens on ports 18080/18443";
    return Attempt::PortsBusy;
  }
  const std::string script = (SourceDir() / "tools" / "simulator" / "simulator.py").string();
  std::vector<std::string> arguments = {"python3",      script,
                                        "--http-port",  std::to_string(kHttpPort),
                                        "--https-port", std::to_string(kHttpsPort),
                                        "--ca-dir",     CaFile().parent_path().string(),
                                        "--lock-held"};
  arguments.insert(arguments.end(), extraArguments_.begin(), extraArguments_.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The ready line is for people; the control call below is what counts.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own, so Stop() reaches the interpreter whatever it started.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  // The simulator names the stand-in applications of the build it serves: this one's, also
  // for a build folder other than the default.
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, "HOPWELL_BINARY_DIR=", 19) != 0)
      environment.emplace_back(*variable);
  }
  environment.push_back("HOPWELL_BINARY_DIR=" + BinaryDir().string());
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int spawned =
      posix_spawnp(&pid, "python3", &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    reason = "could not start python3: " + std::to_string(spawned);
    return Attempt::Failed;
  }
  pid_ = pid;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      reason = "the simulator exited at start-up (are ports 18080/18443 in use?)";
      return Attempt::PortsBusy;
    }
    std::string answer;
    if (Control("/_sim/pgid", nullptr, &answer)) {
      if (answer == std::to_string(pid_)) return Attempt::Started;
      StopProcess();
      reason = "another simulator already listens on ports 18080/18443";
      return Attempt::PortsBusy;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  StopProcess();
  reason = "the simulator did not answer within 20 seconds";
  return Attempt::Failed;
}

bool SimulatorProcess::Lock(std::string* error) {
  if (lockFd_ >= 0) return true;
  lockFd_ = open(kLockFile, O_CREAT | O_RDWR | O_CLOEXEC, 0666);
  if (lockFd_ < 0) {
    if (error) *error = std::string("cannot open ") + kLockFile;
    return false;
  }
  // Longer than the longest holder: the fault-injection sample keeps the ports for its
  // budget plus one run's time limit.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(6);
  while (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      close(lockFd_);
      lockFd_ = -1;
      if (error) *error = "another test run kept the simulator ports for six minutes";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

void SimulatorProcess::Stop() {
  StopProcess();
  if (lockFd_ >= 0) {
    close(lockFd_);  // releases the lock
    lockFd_ = -1;
  }
}

void SimulatorProcess::StopProcess() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}

bool SimulatorProcess::Control(const std::string& path, const std::string* body,
                               std::string* answer) const {
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  std::string received;
  const std::string url = HttpBase() + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendToString);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
  curl_slist* headers = nullptr;
  if (body) {
    headers = curl_slist_append(headers, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
  }
  long status = 0;
  const CURLcode result = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (answer) *answer = received;
  return result == CURLE_OK && status == 200;
}

std::vector<SimulatorRequest> SimulatorProcess::Requests() const {
  std::vector<SimulatorRequest> requests;
  std::string answer;
  if (!Control("/_sim/requests", nullptr, &answer)) return requests;
  pt::ptree tree;
  try {
    std::istringstream in(answer);
    pt::read_json(in, tree);
  } catch (const pt::ptree_error&) {
    return requests;
  }
  for (const auto& entry : tree) requests.push_back(ReadRequest(entry.second));
  return requests;
}

bool SimulatorProcess::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    if (Requests().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

bool SimulatorProcess::AddScenario(const std::string& ruleJson) const {
  return Control("/_sim/scenario", &ruleJson);
}

bool SimulatorProcess::ClearScenarios() const {
  const std::string none;
  return Control("/_sim/scenario/clear", &none);
}

bool SimulatorProcess::SetParameters(const std::string& json) const {
  return Control("/_sim/parameters", &json);
}

bool SimulatorProcess::ClearRequests() const {
  const std::string none;
  return Control("/_sim/requests/clear", &none);
}

bool SimulatorProcess::Reset() const {
  const std::string none;
  return Control("/_sim/reset", &none);
}

}  // namespace hopwell::testing
