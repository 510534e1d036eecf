#pragma once

#include <string>

namespace hopwell {

// "Kelvory Hopwell version <file version> <40-digit revision>"
std::string VersionLine();

// What every front end does first once it is the running instance: the private folders,
// logging, the version line, and the command table. Empty on success; otherwise the message
// that says which folder cannot be used, and the front end ends with exit code 1.
std::string StartCore();

}  // namespace hopwell
