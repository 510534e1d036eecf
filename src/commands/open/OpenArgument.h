#pragma once

#include <string>

namespace hopwell {

// The open command's argument: the chapter's parameter address and the access token, which
// follows the last colon.
struct OpenArgument {
  bool valid = false;
  std::string parameterUrl;
  std::string token;
};

// "scheme:rest:token" or "scheme:host:port/path:token" (the port all decimal digits); every
// "%2F" of the address, in either letter case, becomes "/". Anything else is not valid.
OpenArgument ParseArgument(const std::string& argument);

}  // namespace hopwell
