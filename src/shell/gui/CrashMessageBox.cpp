#include "shell/gui/CrashMessageBox.h"

#include <cstdlib>
#include <cstring>

#include <QApplication>
#include <QMessageBox>

namespace hopwell {
namespace {

bool HasValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool ShowCrashMessageBox(int argc, char** argv, const std::string& caption,
                         const std::string& text) {
  // A box on the offscreen platform would wait for a click that can never come.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && std::strcmp(platform, "offscreen") == 0) return false;
  if (!HasValue("DISPLAY") && !HasValue("WAYLAND_DISPLAY")) return false;
  QApplication app(argc, argv);
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
  return true;
}

}  // namespace hopwell
