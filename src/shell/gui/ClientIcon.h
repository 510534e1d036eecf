#pragma once

#include <QIcon>
#include <QPixmap>

namespace hopwell {

// The client's icon (window, tray, About box), drawn at run time.
QIcon ClientIcon();

// The icon at one size; the desktop's icon files are rendered from it too.
QPixmap DrawClientIcon(int size);

}  // namespace hopwell
