#pragma once

#include <iosfwd>

#include "intake/AppCmdParameters.h"

namespace hopwell {

// The install command's parameter document; its keys are those of AppCmdParameters plus
// "pluginversion", "pluginurl" and "plugincrc", read by the installer.
class InstallCmdParameters : public AppCmdParameters {
 public:
  explicit InstallCmdParameters(std::istream& in) : AppCmdParameters(in) {}
  ~InstallCmdParameters() override = default;
};

}  // namespace hopwell
