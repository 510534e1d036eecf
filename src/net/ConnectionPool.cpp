#include "net/ConnectionPool.h"

#include "net/CurlHandles.h"

namespace hopwell {

ConnectionPool::ConnectionPool() {
  if (!EnsureCurlInitialized()) return;
  share_.reset(curl_share_init());
  if (!share_) return;
  CURLSH* share = share_.get();
  bool ok = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &ConnectionPool::Lock) == CURLSHE_OK;
  ok = ok && curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &ConnectionPool::Unlock) == CURLSHE_OK;
  ok = ok && curl_share_setopt(share, CURLSHOPT_USERDATA, this) == CURLSHE_OK;
  for (const curl_lock_data data :
       {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
    ok = ok && curl_share_setopt(share, CURLSHOPT_SHARE, data) == CURLSHE_OK;
  }
  if (!ok) share_.reset();
}

void ConnectionPool::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<ConnectionPool*>(self)->locks_.at(static_cast<std::size_t>(data)).lock();
}

void ConnectionPool::Unlock(CURL*, curl_lock_data data, void* self) {
  static_cast<ConnectionPool*>(self)->locks_.at(static_cast<std::size_t>(data)).unlock();
}

}  // namespace hopwell
