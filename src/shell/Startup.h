#pragma once

#include <string>

namespace hopwell {

// "Kelvory Hopwell version <file version> <40-digit revision>"
std::string VersionLine();

// What every front end does first once it is the running instance: logging, the version
// line, and the command table.
void StartCore();

}  // namespace hopwell
