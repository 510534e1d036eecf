#pragma once

#include <QPixmap>

namespace hopwell {

// The 32-by-32 status pictures of the job list (ids 135 to 140 of JobRowLayout.h), drawn
// once and cached. An unknown id gives the failed picture.
QPixmap StatusPicture(int id);

}  // namespace hopwell
