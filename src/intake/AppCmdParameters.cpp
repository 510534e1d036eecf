#include "intake/AppCmdParameters.h"

#include <charconv>

#include "intake/ParameterKeys.h"

namespace hopwell {

namespace keys = param_keys;

std::string AppCmdParameters::AppName() {
  return GetValue(keys::kAppName);
}
std::string AppCmdParameters::AppQuery() {
  return GetValue(keys::kAppQuery);
}
std::string AppCmdParameters::AppVersion() {
  return GetValue(keys::kAppVersion);
}
std::string AppCmdParameters::AppVersionString() {
  return GetValue(keys::kAppVersionString);
}
std::string AppCmdParameters::AppDefaultPath() {
  return GetValue(keys::kAppDefaultPath);
}
std::string AppCmdParameters::AdditionalAppName() {
  return GetValue(keys::kAdditionalAppName);
}
std::string AppCmdParameters::AdditionalAppQuery() {
  return GetValue(keys::kAdditionalAppQuery);
}
std::string AppCmdParameters::AdditionalAppDefaultPath() {
  return GetValue(keys::kAdditionalAppDefaultPath);
}
std::string AppCmdParameters::DocumentType() {
  return GetValue(keys::kDocumentType);
}
std::string AppCmdParameters::UserRightText() {
  return GetValue(keys::kUserRight);
}

int AppCmdParameters::GetUserRight() {
  const std::string right = UserRightText();
  if (right == "L" || right == "l") return kRightLocked;
  if (right == "S" || right == "s") return kRightSave;
  if (right == "RP" || right == "rp") return kRightReadPrint;
  return kUnknownRight;
}

std::string AppCmdParameters::UserRightToString(int right) {
  switch (right) {
    case kRightLocked:
      return "L";
    case kRightSave:
      return "S";
    case kRightReadPrint:
      return "RP";
    default:
      return {};
  }
}

AppCmdParameters::DocumentTypeCode AppCmdParameters::GetDocumentType() {
  return DocumentType() == "INDESIGN" ? INDESIGN : UNKNOWN_DOCUMENT_TYPE;
}

std::string AppCmdParameters::AppMajorVersion() {
  const std::string version = AppVersion();
  return version.substr(0, version.find('.'));
}

bool AppCmdParameters::IsRecentApplication() {
  const std::string major = AppMajorVersion();
  int number = 0;
  const char* end = major.data() + major.size();
  const auto [stop, error] = std::from_chars(major.data(), end, number);
  if (error != std::errc() || stop != end || major.empty()) return false;
  return number > 20;
}

}  // namespace hopwell
