#pragma once

#include <string>

namespace hopwell {

// The user's display name: the full-name field of the passwd entry (GECOS, up to its
// first comma), else the login name; empty when the entry cannot be read.
std::string SystemUserDisplayName();

}  // namespace hopwell
