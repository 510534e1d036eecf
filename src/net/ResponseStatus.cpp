#include "net/ResponseStatus.h"

#include <sstream>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

namespace hopwell {

bool ResponseStatusIsOk(const std::string& body) {
  try {
    std::istringstream in(body);
    boost::property_tree::ptree answer;
    boost::property_tree::read_json(in, answer);
    return answer.get<std::string>("status", "") == "ok";
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace hopwell
