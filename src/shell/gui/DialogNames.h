#pragma once

// Object names of the dialogs and of the controls tests reach with findChild.
namespace hopwell::dialog_names {

inline constexpr const char* kAbout = "AboutDialog";
inline constexpr const char* kMessage = "MessageDialog";
inline constexpr const char* kAppMissing = "AppMissingDialog";
inline constexpr const char* kTransferInfo = "TransferInfoDialog";
inline constexpr const char* kErrorReport = "ErrorReportDialog";
inline constexpr const char* kMessageBox = "HopwellMessageBox";

// Buttons: QPushButton
inline constexpr const char* kOk = "okButton";
inline constexpr const char* kCancel = "cancelButton";
inline constexpr const char* kClose = "closeButton";
inline constexpr const char* kHelp = "helpButton";
inline constexpr const char* kSend = "sendButton";
inline constexpr const char* kShow = "showButton";
inline constexpr const char* kSendErrorReport = "sendErrorReportButton";

// Texts: QLabel unless noted
inline constexpr const char* kMessageText = "messageText";
inline constexpr const char* kVersionText = "versionText";
inline constexpr const char* kRevisionText = "revisionText";
inline constexpr const char* kNameLabel = "nameLabel";
inline constexpr const char* kNameValue = "nameValue";
inline constexpr const char* kInformationValue = "informationValue";
inline constexpr const char* kDateValue = "dateValue";
inline constexpr const char* kMessagesBox = "messagesBox";  // QPlainTextEdit, read-only
inline constexpr const char* kYourName = "yourName";        // QLineEdit
inline constexpr const char* kYourEmail = "yourEmail";      // QLineEdit
inline constexpr const char* kComment = "comment";          // QPlainTextEdit
inline constexpr const char* kLogFile = "logFile";          // QLineEdit, read-only

}  // namespace hopwell::dialog_names
