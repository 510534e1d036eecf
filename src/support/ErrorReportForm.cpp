#include "support/ErrorReportForm.h"

#include <boost/algorithm/string/trim.hpp>

namespace hopwell {

ErrorReportInput TrimmedReportInput(const std::string& name, const std::string& email,
                                    const std::string& comment) {
  return {boost::algorithm::trim_copy(name), boost::algorithm::trim_copy(email),
          boost::algorithm::trim_copy(comment)};
}

std::optional<std::string> ValidateReportInput(const ErrorReportInput& input) {
  if (input.name.empty()) return std::string(kEnterNameText);
  if (input.email.size() < 5 || input.email.find('@') == std::string::npos) {
    return std::string(kEnterEmailText);
  }
  return std::nullopt;
}

}  // namespace hopwell
