#include "commands/esef/TaggerInstallFlag.h"

#include <atomic>

namespace hopwell {
namespace {

std::atomic<bool> installing{false};

}  // namespace

bool TaggerInstallInProgress() {
  return installing.load();
}

TaggerInstallGuard::TaggerInstallGuard() : taken_(!installing.exchange(true)) {}

TaggerInstallGuard::~TaggerInstallGuard() {
  if (taken_) installing.store(false);
}

}  // namespace hopwell
