#include "base/CrashStack.h"

#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <cstddef>

namespace hopwell {
namespace {

constexpr std::size_t kStackSize = 64 * 1024;

std::atomic<bool> enabled{false};

// An alternate stack for the calling thread, released when the thread ends.
class ThreadSignalStack {
 public:
  ThreadSignalStack() {
    memory_ =
        ::mmap(nullptr, kStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory_ == MAP_FAILED) {
      memory_ = nullptr;
      return;
    }
    stack_t stack{};
    stack.ss_sp = memory_;
    stack.ss_size = kStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) {
      ::munmap(memory_, kStackSize);
      memory_ = nullptr;
    }
  }
  ~ThreadSignalStack() {
    if (memory_ == nullptr) return;
    stack_t disable{};
    disable.ss_flags = SS_DISABLE;
    ::sigaltstack(&disable, nullptr);
    ::munmap(memory_, kStackSize);
  }
  ThreadSignalStack(const ThreadSignalStack&) = delete;
  ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

 private:
  void* memory_ = nullptr;
};

}  // namespace

void EnableCrashStacks() {
  enabled.store(true);
}

void EnsureCrashStackForThisThread() {
  if (!enabled.load()) return;
  thread_local ThreadSignalStack stack;
}

}  // namespace hopwell
