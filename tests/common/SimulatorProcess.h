#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "common/SimulatorRequest.h"

namespace hopwell::testing {

// The platform simulator (tools/simulator) as a child process of a test, on the fixed
// loopback ports the local deployment allows. Start() waits until it answers; the
// destructor stops it. Its ctest tests need RESOURCE_LOCK "simulator_ports".
//
// One simulator per test suite: derive the fixture from SimulatorTest (SimulatorTest.h).
class SimulatorProcess {
 public:
  static constexpr int kHttpPort = 18080;
  static constexpr int kHttpsPort = 18443;
  // Held while a simulator of a test runs, so concurrent test runs take turns on the ports.
  static constexpr const char* kLockFile = "/tmp/hopwell-simulator-ports.lock";

  // extraArguments go to the simulator's command line, e.g. {"--scenario", "proxy"}.
  explicit SimulatorProcess(std::vector<std::string> extraArguments = {});
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // Takes the machine-wide simulator lock (waiting up to six minutes while another test
  // program, of this checkout or another, has its simulator running), then waits up to two
  // more minutes for the ports to come free of any other simulator, starts the process and
  // waits (up to 20 s) for it to answer. False, with the reason in *error, otherwise.
  bool Start(std::string* error = nullptr);
  void Stop();
  bool IsRunning() const { return pid_ > 0; }

  std::string HttpBase() const;   // "http://127.0.0.1:18080"
  std::string HttpsBase() const;  // "https://127.0.0.1:18443"
  std::string HttpUrl(const std::string& path) const { return HttpBase() + path; }
  std::string HttpsUrl(const std::string& path) const { return HttpsBase() + path; }
  // The test CA that signed the HTTPS certificate.
  boost::filesystem::path CaFile() const;

  // The requests received since the last reset, oldest first (control calls excluded).
  std::vector<SimulatorRequest> Requests() const;
  // Polls until at least `count` requests are logged or the timeout passes.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  // Scenario rules as JSON objects (or quoted shorthand strings such as "\"404\"").
  bool AddScenario(const std::string& ruleJson) const;
  bool ClearScenarios() const;
  // Changes the parameter documents of one kind: {"kind":"open","set":{...},...}.
  bool SetParameters(const std::string& json) const;
  bool ClearRequests() const;
  // Clears rules, the request log, parameter changes and endpoint state.
  bool Reset() const;

  // A control call: POST when body is given, else GET, to HttpBase() + path.
  bool Control(const std::string& path, const std::string* body = nullptr,
               std::string* answer = nullptr) const;

  static boost::filesystem::path SourceDir();
  static boost::filesystem::path BinaryDir();

 private:
  enum class Attempt { Started, PortsBusy, Failed };

  bool Lock(std::string* error);
  Attempt StartOnce(std::string& reason);
  void StopProcess();

  std::vector<std::string> extraArguments_;
  pid_t pid_ = -1;
  int lockFd_ = -1;
};

}  // namespace hopwell::testing
