#include "base/CancelToken.h"

#include <utility>

namespace hopwell {
namespace {

thread_local CancelTokenPtr currentToken;

}  // namespace

CancelScope::CancelScope(CancelTokenPtr token) : previous_(std::move(currentToken)) {
  currentToken = std::move(token);
}

CancelScope::~CancelScope() {
  currentToken = std::move(previous_);
}

bool CancelRequestedHere() {
  return currentToken != nullptr && currentToken->IsCancelled();
}

CancelTokenPtr CurrentCancelToken() {
  return currentToken;
}

}  // namespace hopwell
