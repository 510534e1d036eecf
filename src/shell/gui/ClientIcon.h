#pragma once

#include <QIcon>

namespace hopwell {

// The client's icon (window, tray, About box), drawn at run time.
QIcon ClientIcon();

}  // namespace hopwell
