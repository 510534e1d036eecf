#include "intake/TestFault.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace hopwell {

#ifdef HOPWELL_TEST_HOOKS

namespace {

volatile std::uintptr_t unmappedAddress = 0x10;

// Kept out of line so that the backtrace names it.
[[gnu::noinline]] void FaultOnCommandThread(const char* kind) {
  if (std::strcmp(kind, "abort") == 0) std::abort();
  *reinterpret_cast<volatile int*>(unmappedAddress) = 1;
}

}  // namespace

void FaultIfAskedForTests() {
  const char* kind = std::getenv("HOPWELL_TEST_FAULT");
  if (kind != nullptr && *kind != '\0') FaultOnCommandThread(kind);
}

#else

void FaultIfAskedForTests() {}

#endif

}  // namespace hopwell
