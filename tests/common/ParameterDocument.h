#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/detail/xml_parser_utils.hpp>

namespace hopwell::testing {

using ParameterList = std::vector<std::pair<std::string, std::string>>;

// A parameter document of type Document (AppCmdParameters, InstallCmdParameters, ...) made
// from name/value pairs.
template <class Document>
std::shared_ptr<Document> MakeParameters(const ParameterList& values) {
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\"?><data><params>";
  for (const auto& [name, value] : values) {
    xml << "<param name=\"" << boost::property_tree::xml_parser::encode_char_entities(name)
        << "\" value=\"" << boost::property_tree::xml_parser::encode_char_entities(value) << "\"/>";
  }
  xml << "</params></data>";
  std::istringstream in(xml.str());
  return std::make_shared<Document>(in);
}

}  // namespace hopwell::testing
