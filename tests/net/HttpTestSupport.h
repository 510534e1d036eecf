#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/HttpHelperCurl.h"
#include "net/UrlTools.h"
#include "net/WireServer.h"
#include "Version.h"

namespace hopwell::testing {

// A helper whose allow-list holds exactly the given origins.
inline std::shared_ptr<IHttpHelper> HelperFor(const std::vector<std::string>& origins,
                                             const std::string& caFile = {}) {
  std::vector<std::string> digests;
  for (const std::string& origin : origins) digests.push_back(Md5Hex(origin));
  return std::make_shared<HttpHelperCurl>(digests, caFile);
}

// The query every request carries after the caller's own parameters.
inline std::string IdentificationQuery() {
  return std::string("hwversion=") + kProductVersion + "&os=linux&ver=" +
         UrlEscape(OsVersionString());
}

// The header lines libcurl puts in front of the caller's.
inline std::string StandardHeaders(const WireServer& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.Port()) +
         "\r\nUser-Agent: Kelvory Hopwell/1.7.1\r\nAccept: */*\r\n";
}

struct ProgressLog {
  struct Call {
    std::uint64_t downloadTotal, downloaded, uploadTotal, uploaded;
  };
  std::vector<Call> calls;
  static void Record(void* self, std::uint64_t dt, std::uint64_t d, std::uint64_t ut,
                     std::uint64_t u) {
    static_cast<ProgressLog*>(self)->calls.push_back({dt, d, ut, u});
  }
};

inline std::string Pattern251(std::size_t n) {
  std::string data(n, '\0');
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<char>(i % 251);
  return data;
}

}  // namespace hopwell::testing
