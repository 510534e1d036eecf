#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hopwell::testing {

// One request as the simulator's request log recorded it.
struct SimulatorRequest {
  std::string scheme;  // "http" or "https"
  std::string method;
  std::string target;  // the request target as sent (absolute form through a proxy)
  std::string path;
  std::string query;                                             // raw, without "?"
  std::vector<std::pair<std::string, std::string>> queryParams;  // decoded, in order
  std::vector<std::pair<std::string, std::string>> headers;      // in order, as received
  std::string rawHead;  // request line and header block, byte for byte, ending in CR LF CR LF
  std::string body;     // the whole body when bodyLogged
  bool bodyLogged = false;
  std::uint64_t bodyLength = 0;
  std::uint32_t bodyCrc32 = 0;
  bool chunked = false;               // the body came with Transfer-Encoding: chunked
  int status = 0;                     // status of the simulator's answer (0: connection dropped)
  std::vector<std::string> scenario;  // scenario modes applied to this request
  int connection = 0;                 // number of the TCP connection it came on, from 1
  std::uint64_t bytesSent = 0;        // body bytes of the answer put on the wire

  // The first header of that name (case-insensitive), empty when there is none.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
  // The first decoded query parameter of that name, empty when there is none.
  std::string Param(const std::string& name) const;
};

}  // namespace hopwell::testing
