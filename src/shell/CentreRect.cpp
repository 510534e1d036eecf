#include "shell/CentreRect.h"

namespace hopwell {

ScreenRect CentreOver(const ScreenRect& outer, int width, int height) {
  // Integer division truncates toward zero, also for a negative difference.
  return ScreenRect{outer.left + (outer.width - width) / 2, outer.top + (outer.height - height) / 2,
                    width, height};
}

}  // namespace hopwell
