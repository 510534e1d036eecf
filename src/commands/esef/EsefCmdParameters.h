#pragma once

#include <string>

#include "base/Logging.h"

namespace hopwell {

// The esef command's argument: the platform server's base address and the access token,
// separated by the argument's last ":" (the scheme's and a port's ":" stay in the address,
// so a token cannot hold one).
class EsefCmdParameters {
 public:
  // False, with url and token left empty, when the argument holds no ":".
  bool Parse(const std::string& argument);

  std::string url;
  std::string token;

 private:
  LogSource log_;
};

}  // namespace hopwell
