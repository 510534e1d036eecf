#pragma once

#include <array>
#include <memory>
#include <mutex>

#include <curl/curl.h>

namespace hopwell {

// What the transfers of one helper keep between requests: open connections, TLS sessions
// and name lookups, so that consecutive requests to one host travel over one connection.
class ConnectionPool {
 public:
  ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // Null when libcurl could not make the pool; every transfer then connects afresh.
  CURLSH* Handle() const { return share_.get(); }

 private:
  struct ShareCleanup {
    void operator()(CURLSH* share) const noexcept { curl_share_cleanup(share); }
  };

  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void Unlock(CURL*, curl_lock_data data, void* self);

  // One lock per kind of data: libcurl may hold one kind while it takes another.
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
  std::unique_ptr<CURLSH, ShareCleanup> share_;
};

}  // namespace hopwell
