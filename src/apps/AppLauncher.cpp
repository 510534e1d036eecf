#include "apps/AppLauncher.h"

#include <string>

#include <boost/filesystem/operations.hpp>

#include "apps/LaunchApplication.h"
#include "apps/ProcessTable.h"

namespace hopwell {

namespace fs = boost::filesystem;

AppLauncher::~AppLauncher() = default;

bool AppLauncher::OpenDocument(const fs::path& document) {
  const fs::path application = application_->AppPath();
  boost::system::error_code ignored;
  if (!application.empty() && fs::exists(application, ignored)) {
    return LaunchApplication(application, document) > 32;
  }
  const std::string applicationId =
      std::string(parameters_->GetDocumentType() == AppCmdParameters::INDESIGN
                      ? "INDESIGN"
                      : "UNKNOWN_DOCUMENT_TYPE") +
      "_" + AppCmdParameters::UserRightToString(parameters_->GetUserRight());
  const std::string version = parameters_->AppVersion();
  HW_LOG(log_, error) << "Couldn't find the application associated with application "
                      << applicationId << " " << version;
  HW_LOG(log_, error) << "Expected at " << application.string();
  throw std::string("Couldn't find the application associated with application id " +
                    applicationId + " " + version + ".");
}

bool AppLauncher::IsApplicationRunning() {
  return FindRunningProcess(application_->AppPath()) != 0;
}

bool AppLauncher::IsAdditionalApplicationRunning() {
  return FindRunningProcess(application_->AdditionalAppPath()) != 0;
}

bool AppLauncher::CreateShortcut(const fs::path& target, const fs::path& shortcut) {
  const fs::path folder = shortcut.parent_path();
  boost::system::error_code error;
  const fs::file_status status = fs::status(folder, error);
  if (!fs::exists(status)) {
    if (!fs::create_directories(folder, error) && error) {
      HW_LOG(log_, error) << "Failed to create " << folder.string();
      return false;
    }
  } else if (!fs::is_directory(status)) {
    HW_LOG(log_, error) << folder.string() << " already exists, but is not a directory";
    return false;
  }
  // Saving a shortcut replaces one that is there; a folder in its place is not replaced.
  const fs::file_status existing = fs::symlink_status(shortcut, error);
  if (fs::exists(existing) && !fs::is_directory(existing)) fs::remove(shortcut, error);
  fs::create_symlink(target, shortcut, error);
  if (error) {
    HW_LOG(log_, error) << "Failed to create shortcut at " << shortcut.string();
    return false;
  }
  return true;
}

}  // namespace hopwell
