#include "apps/IEditApplication.h"

#include <utility>

#include "apps/FindApplication.h"

namespace hopwell {

IEditApplication::IEditApplication(std::shared_ptr<AppCmdParameters> parameters)
    : parameters_(std::move(parameters)) {}

boost::filesystem::path IEditApplication::AppPath() {
  Search();
  return appPath_;
}

boost::filesystem::path IEditApplication::AdditionalAppPath() {
  Search();
  return additionalAppPath_;
}

std::string IEditApplication::MajorVersion() {
  if (!parameters_) return {};
  const std::string version = parameters_->AppVersion();
  return version.substr(0, version.find('.'));
}

void IEditApplication::Search() {
  if (searched_) return;
  searched_ = true;
  if (!parameters_) return;
  appPath_ = FindApplication(*parameters_, false);
  additionalAppPath_ = FindApplication(*parameters_, true);
}

}  // namespace hopwell
