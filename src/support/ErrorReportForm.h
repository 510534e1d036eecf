#pragma once

#include <optional>
#include <string>

namespace hopwell {

// The error report form's texts after white space has been removed at both ends.
struct ErrorReportInput {
  std::string name;
  std::string email;
  std::string comment;
};

inline constexpr const char* kErrorReportCaption = "Kelvory Hopwell";
inline constexpr const char* kEnterNameText = "Please enter your name.";
inline constexpr const char* kEnterEmailText = "Please enter your email address.";
inline constexpr const char* kTicketCreatedText = "New error ticket was created.";
inline constexpr const char* kTicketFailedText =
    "Could not create a new ticket. Please contact Kelvory support.";

ErrorReportInput TrimmedReportInput(const std::string& name, const std::string& email,
                                    const std::string& comment);

// The validation message for the form, or nothing when it may be sent: a name is needed,
// and an e-mail address of at least 5 characters with an at sign.
std::optional<std::string> ValidateReportInput(const ErrorReportInput& input);

}  // namespace hopwell
