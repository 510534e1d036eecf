#include "support/SystemUserName.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace hopwell {

std::string SystemUserDisplayName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return std::string();
  }
  if (found->pw_gecos != nullptr) {
    std::string full(found->pw_gecos);
    full = full.substr(0, full.find(','));
    if (!full.empty()) return full;
  }
  return found->pw_name != nullptr ? std::string(found->pw_name) : std::string();
}

}  // namespace hopwell
