#pragma once

#include <string>

#include <QDialog>

namespace hopwell {

// The generic message dialog: the client's icon, a text and "OK"; always on top. An empty
// title shows as "Kelvory".
class MessageDialog : public QDialog {
  Q_OBJECT

 public:
  MessageDialog(const std::string& title, const std::string& text, QWidget* parent = nullptr);
};

}  // namespace hopwell
