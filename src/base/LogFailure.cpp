#include "base/LogFailure.h"

#include <exception>
#include <mutex>
#include <utility>

namespace hopwell {
namespace {

struct FailureState {
  std::mutex lock;
  std::function<void(const std::string&)> handler;
  std::string text;  // the first failure, until it has been told
  bool failed = false;
  bool told = false;
};

FailureState& State() {
  static FailureState state;
  return state;
}

// Hands the failure over once, outside the lock: the handler may take time (a queued call
// into the window) but must not find the state locked by its own thread.
void TellIfDue(std::unique_lock<std::mutex>& locked) {
  FailureState& state = State();
  if (!state.failed || state.told || !state.handler) return;
  state.told = true;
  const auto handler = state.handler;
  const std::string text =
      "The log file cannot be written, so nothing is logged (" + state.text + ")";
  locked.unlock();
  try {
    handler(text);
  } catch (...) {  // telling is best effort
  }
}

}  // namespace

void NoteLogFailure() noexcept {
  std::string text = "unknown error";
  if (const std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& error) {
      text = error.what();
    } catch (...) {
    }
  }
  try {
    std::unique_lock locked(State().lock);
    if (!State().failed) {
      State().failed = true;
      State().text = std::move(text);
    }
    TellIfDue(locked);
  } catch (...) {
  }
}

void SetLogFailureHandler(std::function<void(const std::string&)> handler) {
  std::unique_lock locked(State().lock);
  State().handler = std::move(handler);
  TellIfDue(locked);
}

}  // namespace hopwell
