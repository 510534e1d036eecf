#pragma once

namespace hopwell {

struct ScreenRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// The rectangle of `width` x `height` centred over `outer`: each offset is the difference
// of the sizes halved with truncation toward zero, so a dialog larger than its parent
// sticks out evenly on both sides.
ScreenRect CentreOver(const ScreenRect& outer, int width, int height);

}  // namespace hopwell
