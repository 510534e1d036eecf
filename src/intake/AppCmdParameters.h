#pragma once

#include <iosfwd>
#include <string>

#include "intake/XmlCmdParametersBase.h"

namespace hopwell {

// A parameter document that names an editing application: the base of the open and
// install documents.
class AppCmdParameters : public XmlCmdParametersBase {
 public:
  enum DocumentTypeCode : int { INDESIGN = 0, UNKNOWN_DOCUMENT_TYPE = 1 };

  // Codes of "userright"; anything else reads as kUnknownRight.
  static constexpr int kRightLocked = 0;     // "L"
  static constexpr int kRightSave = 1;       // "S"
  static constexpr int kRightReadPrint = 2;  // "RP"
  static constexpr int kUnknownRight = 3;

  explicit AppCmdParameters(std::istream& in) : XmlCmdParametersBase(in) {}

  std::string AppName();
  std::string AppQuery();
  std::string AppVersion();
  std::string AppVersionString();
  std::string AppDefaultPath();
  std::string AdditionalAppName();
  std::string AdditionalAppQuery();
  std::string AdditionalAppDefaultPath();
  std::string DocumentType();
  std::string UserRightText();

  // "L"/"l" 0, "S"/"s" 1, "RP"/"rp" 2, anything else (empty included) 3.
  int GetUserRight();
  // The code's text for writing it back: "L", "S", "RP", or empty for any other code.
  static std::string UserRightToString(int right);
  // INDESIGN exactly when "documenttype" is "INDESIGN" (case-sensitive).
  DocumentTypeCode GetDocumentType();
  // "appversion" up to its first ".", or all of it.
  std::string AppMajorVersion();
  // True when the major version is a number greater than 20.
  bool IsRecentApplication();
};

}  // namespace hopwell
