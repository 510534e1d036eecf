#pragma once

#include <iosfwd>
#include <map>
#include <string>

#include <boost/property_tree/ptree.hpp>

#include "base/Logging.h"

namespace hopwell {

// A parameter document as the platform serves it: a "data" root holding one "params"
// element whose children carry "name" and "value" attributes. Parsed once at construction;
// lookups by name are cached. Belongs to one command and is used from its thread only.
class XmlCmdParametersBase {
 public:
  // Reads the whole stream. A document that does not parse leaves the object usable but
  // not initialized: every lookup then answers empty.
  explicit XmlCmdParametersBase(std::istream& in);
  virtual ~XmlCmdParametersBase() = default;
  XmlCmdParametersBase(const XmlCmdParametersBase&) = delete;
  XmlCmdParametersBase& operator=(const XmlCmdParametersBase&) = delete;

  // The value of the first parameter of that name; empty (and logged once) when it is
  // absent or empty.
  std::string GetValue(const std::string& name);
  // True for an empty value or one that reads "true" in any case; false otherwise.
  bool GetBool(const std::string& name);
  // The value's leading decimal number (0 without digits); -1 for an empty value.
  int GetInt(const std::string& name);

  bool IsInitialized() const { return initialized_; }

  // The parsed document, for readers of sections beside "params" (the file list).
  const boost::property_tree::ptree& Tree() const { return tree_; }

 protected:
  LogSource log_;

 private:
  std::string FindValue(const std::string& name);

  boost::property_tree::ptree tree_;
  bool initialized_ = false;
  std::map<std::string, std::string> cache_;
};

}  // namespace hopwell
