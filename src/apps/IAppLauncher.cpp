#include "apps/IAppLauncher.h"

#include <utility>

#include "apps/AppLauncher.h"
#include "base/CancelToken.h"
#include "base/FrontEnd.h"

namespace hopwell {

IAppLauncher::IAppLauncher(std::shared_ptr<AppCmdParameters> parameters, JobPtr job)
    : application_(std::make_shared<IEditApplication>(parameters)),
      parameters_(std::move(parameters)),
      job_(std::move(job)) {}

IAppLauncher::~IAppLauncher() = default;

boost::filesystem::path IAppLauncher::ApplicationFolder() {
  if (!application_) return {};
  return application_->AppPath().parent_path();
}

void IAppLauncher::ShowApplicationMissing(const std::string& text) {
  // No dialog for work the user stopped.
  if (!application_ || CancelRequestedHere()) return;
  FrontEnd()->ShowApplicationMissing(text);
}

EditApplicationPtr IAppLauncher::EditApplication() {
  return application_;
}

AppLauncherPtr CreateAppLauncher(std::shared_ptr<AppCmdParameters> parameters, JobPtr job) {
  return std::make_shared<AppLauncher>(std::move(parameters), std::move(job));
}

}  // namespace hopwell
