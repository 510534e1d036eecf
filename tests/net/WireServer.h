#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "common/TempDir.h"

namespace hopwell::testing {

// Runs wire_server.py on a free loopback port for the object's lifetime and reads back the
// requests it recorded, byte for byte.
class WireServer {
 public:
  // With cert and key the server speaks TLS.
  explicit WireServer(const std::string& cert = {}, const std::string& key = {});
  ~WireServer();
  WireServer(const WireServer&) = delete;
  WireServer& operator=(const WireServer&) = delete;

  bool Running() const { return port_ != 0; }
  int Port() const { return port_; }
  // "http://127.0.0.1:<port>" (or https).
  std::string Origin() const;
  // Every recorded request in arrival order.
  std::vector<std::string> Requests() const;

 private:
  TempDir records_;
  bool secure_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// Makes a test CA and a certificate for 127.0.0.1 signed by it (openssl command line).
struct TestCertificates {
  explicit TestCertificates(const boost::filesystem::path& folder);
  bool ok = false;
  std::string caFile;
  std::string certFile;
  std::string keyFile;
};

}  // namespace hopwell::testing
