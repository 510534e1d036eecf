#pragma once

#include <atomic>
#include <memory>

namespace hopwell {

// A request to stop work early. The user's side asks (through the job), the work checks:
// transfers between two progress calls, zip loops between entries and buffers, waits
// between their short sleeps. Once cancelled it stays cancelled. Thread-safe.
class CancelToken {
 public:
  void Cancel() { cancelled_.store(true, std::memory_order_release); }
  bool IsCancelled() const { return cancelled_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> cancelled_{false};
};

using CancelTokenPtr = std::shared_ptr<CancelToken>;

// The token of the work this thread runs. A command's run makes its job's token the
// thread's own, so every transfer and loop below it checks it without having it handed
// down. Scopes nest; a scope with a null token shields work that must finish whatever the
// user asked (releasing a server lock the command took).
class CancelScope {
 public:
  explicit CancelScope(CancelTokenPtr token);
  ~CancelScope();
  CancelScope(const CancelScope&) = delete;
  CancelScope& operator=(const CancelScope&) = delete;

 private:
  CancelTokenPtr previous_;
};

// True when the work on this thread was asked to stop.
bool CancelRequestedHere();

// This thread's token (null outside any scope), for threads that work on its behalf.
CancelTokenPtr CurrentCancelToken();

}  // namespace hopwell
