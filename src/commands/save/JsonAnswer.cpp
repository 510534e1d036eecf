#include "commands/save/JsonAnswer.h"

#include <sstream>

#include <boost/property_tree/json_parser.hpp>

namespace hopwell {

std::optional<boost::property_tree::ptree> ParseJsonAnswer(const std::string& text) {
  boost::property_tree::ptree tree;
  try {
    std::istringstream in(text);
    boost::property_tree::read_json(in, tree);
  } catch (const boost::property_tree::json_parser_error&) {
    return std::nullopt;
  }
  return tree;
}

}  // namespace hopwell
