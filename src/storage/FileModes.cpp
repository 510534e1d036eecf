#include "storage/FileModes.h"

#include <sys/stat.h>

#include <atomic>

namespace hopwell {
namespace {

constexpr int kUnknownMask = -1;
std::atomic<int> userMask{kUnknownMask};

std::mutex& StartMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

void MakeOwnFilesPrivate() {
  const mode_t started = ::umask(077);
  int expected = kUnknownMask;
  userMask.compare_exchange_strong(expected, static_cast<int>(started));
}

StartedProgramMask::StartedProgramMask() : lock_(StartMutex()) {
  if (const int mask = userMask.load(); mask != kUnknownMask) {
    previous_ = ::umask(static_cast<mode_t>(mask));
    changed_ = true;
  }
}

StartedProgramMask::~StartedProgramMask() {
  if (changed_) ::umask(previous_);
}

}  // namespace hopwell
