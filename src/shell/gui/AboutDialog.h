#pragma once

#include <QDialog>

namespace hopwell {

// "About Kelvory Hopwell": the client's icon, name and version, and the build revision.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent);
};

}  // namespace hopwell
