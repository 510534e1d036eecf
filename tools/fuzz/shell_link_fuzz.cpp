// libFuzzer target: the shell-link reader on arbitrary bytes. It must never read outside the
// input, and whatever target it finds must be found again in a copy of exactly those bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/ShellLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A heap copy of exactly `size` bytes, so the sanitizer sees any read past the end.
  const std::vector<unsigned char> bytes(data, data + size);
  const std::string target = hopwell::ReadShellLinkTarget(bytes.data(), bytes.size());
  if (target != hopwell::ReadShellLinkTarget(data, size)) std::abort();
  return 0;
}
