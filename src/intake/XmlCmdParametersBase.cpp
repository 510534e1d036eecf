#include "intake/XmlCmdParametersBase.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <istream>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "intake/ParameterKeys.h"

namespace hopwell {
namespace {

namespace pt = boost::property_tree;

const std::string kAttributes = "<xmlattr>";
const std::string kNamePath = kAttributes + "." + param_keys::kName;
const std::string kValuePath = kAttributes + "." + param_keys::kValue;
const std::string kParamsPath = std::string("data.") + param_keys::kParams;

// The property tree's own text for a missing path.
std::string NoSuchNode(const std::string& path) {
  return pt::ptree_bad_path("No such node", pt::ptree::path_type(path)).what();
}

}  // namespace

XmlCmdParametersBase::XmlCmdParametersBase(std::istream& in) {
  try {
    // No reader flags: values keep their white space, comments become "<xmlcomment>".
    pt::read_xml(in, tree_, 0);
    // The reader takes an empty text (or one of comments only) as an empty document; that
    // is no more a parameter document than a broken one.
    const bool hasRoot = std::any_of(tree_.begin(), tree_.end(), [](const auto& child) {
      return child.first != "<xmlcomment>";
    });
    if (!hasRoot) {
      HW_LOG(log_, warning) << "Could not initialize parameters: "
                            << "<unspecified file>(1): no root element";
      return;
    }
    initialized_ = true;
  } catch (const pt::xml_parser_error& error) {
    HW_LOG(log_, warning) << "Could not initialize parameters: " << error.what();
  }
}

std::string XmlCmdParametersBase::FindValue(const std::string& name) {
  const auto params = tree_.get_child_optional(kParamsPath);
  if (!params) {
    HW_LOG(log_, warning) << NoSuchNode(kParamsPath);
    return {};
  }
  for (const auto& child : *params) {
    // Comments, the element's own attributes and children without a name say nothing
    // about any parameter; the ones after them still count.
    const auto childName = child.second.get_optional<std::string>(kNamePath);
    if (!childName || *childName != name) continue;
    const auto value = child.second.get_optional<std::string>(kValuePath);
    if (!value) {
      HW_LOG(log_, warning) << NoSuchNode(kValuePath);
      return {};
    }
    return *value;
  }
  return {};
}

std::string XmlCmdParametersBase::GetValue(const std::string& name) {
  if (const auto cached = cache_.find(name); cached != cache_.end()) return cached->second;
  if (!initialized_) {
    HW_LOG(log_, warning) << "Not initialized";
    return {};
  }
  std::string value = FindValue(name);
  if (value.empty()) HW_LOG(log_, warning) << "Couldn't find parameter " << name;
  cache_.emplace(name, value);
  return value;
}

bool XmlCmdParametersBase::GetBool(const std::string& name) {
  const std::string value = GetValue(name);
  if (value.empty()) return true;
  return boost::algorithm::to_lower_copy(value) == "true";
}

int XmlCmdParametersBase::GetInt(const std::string& name) {
  const std::string value = GetValue(name);
  if (value.empty()) return -1;
  const long number = std::strtol(value.c_str(), nullptr, 10);
  // Out-of-range numbers saturate instead of wrapping into an unrelated value.
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

}  // namespace hopwell
