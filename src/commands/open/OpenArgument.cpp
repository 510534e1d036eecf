#include "commands/open/OpenArgument.h"

#include <algorithm>
#include <locale>
#include <vector>

#include <boost/algorithm/string/replace.hpp>

#include "intake/SplitString.h"

namespace hopwell {

OpenArgument ParseArgument(const std::string& argument) {
  std::vector<std::string> tokens = SplitString(argument, ":", 0);
  if (tokens.size() == 4) {
    const std::string port = tokens[2].substr(0, tokens[2].find('/'));
    const std::locale locale;
    const bool digits = !port.empty() && std::all_of(port.begin(), port.end(), [&](char c) {
      return std::isdigit(c, locale);
    });
    if (!digits) return {};
    tokens[1] += ":" + tokens[2];
    tokens[2] = tokens[3];
    tokens.pop_back();
  }
  if (tokens.size() != 3) return {};
  OpenArgument result;
  result.parameterUrl = tokens[0] + ":" + tokens[1];
  boost::algorithm::ireplace_all(result.parameterUrl, "%2F", "/");
  result.token = tokens[2];
  result.valid = true;
  return result;
}

}  // namespace hopwell
