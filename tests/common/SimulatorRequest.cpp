#include "common/SimulatorRequest.h"

#include <boost/algorithm/string/predicate.hpp>

namespace hopwell::testing {

std::string SimulatorRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (boost::iequals(key, name)) return value;
  }
  return {};
}

bool SimulatorRequest::HasHeader(const std::string& name) const {
  for (const auto& header : headers) {
    if (boost::iequals(header.first, name)) return true;
  }
  return false;
}

std::string SimulatorRequest::Param(const std::string& name) const {
  for (const auto& [key, value] : queryParams) {
    if (key == name) return value;
  }
  return {};
}

}  // namespace hopwell::testing
