// Writes the client's icon as <folder>/<size>x<size>/apps/hopwell.png for every size of the
// hicolor theme the desktop asks for, drawn by the same code as the window and tray icon.
#include <cstdio>

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include "shell/gui/ClientIcon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hopwell-render-icons FOLDER\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    if (!QDir().mkpath(folder) ||
        !hopwell::DrawClientIcon(size).save(folder + QStringLiteral("/hopwell.png"), "PNG")) {
      std::fprintf(stderr, "hopwell-render-icons: cannot write %s\n", qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
