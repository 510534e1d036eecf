#pragma once

#include <string>

#include <QDialog>

namespace hopwell {

// "The Application is Missing": the caller's text, "Help" (opens the support article in
// the browser; the dialog stays) and "Cancel"; always on top.
class AppMissingDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AppMissingDialog(const std::string& text, QWidget* parent = nullptr);

  static const char* HelpUrl();
};

}  // namespace hopwell
