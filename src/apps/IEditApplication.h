#pragma once

#include <memory>
#include <string>

#include <boost/filesystem/path.hpp>

#include "intake/AppCmdParameters.h"

namespace hopwell {

// The editing application a command needs, as its parameter document describes it. The
// search for the main and the additional application runs once, on the first call of
// either path getter, and its results (empty when nothing was found) are kept for the
// record's lifetime. Used from one command's thread only.
class IEditApplication {
 public:
  explicit IEditApplication(std::shared_ptr<AppCmdParameters> parameters);

  boost::filesystem::path AppPath();
  boost::filesystem::path AdditionalAppPath();
  const std::shared_ptr<AppCmdParameters>& Parameters() const { return parameters_; }
  // "appversion" up to (not including) its first ".", or the whole value.
  std::string MajorVersion();

 private:
  void Search();

  boost::filesystem::path appPath_;
  boost::filesystem::path additionalAppPath_;
  std::shared_ptr<AppCmdParameters> parameters_;
  bool searched_ = false;
};

using EditApplicationPtr = std::shared_ptr<IEditApplication>;

}  // namespace hopwell
