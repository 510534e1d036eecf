#pragma once

#include <optional>
#include <string>

#include <boost/property_tree/ptree.hpp>

namespace hopwell {

// A server's JSON answer as a property tree; empty when the text is not JSON.
std::optional<boost::property_tree::ptree> ParseJsonAnswer(const std::string& text);

}  // namespace hopwell
