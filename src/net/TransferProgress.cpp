#include "net/TransferProgress.h"

#include <algorithm>
#include <cmath>

namespace hopwell {

double TransferFraction(std::uint64_t done, std::int64_t total) {
  if (total <= 0) return 0.0;
  return static_cast<double>(done) / static_cast<double>(total);
}

int ScaledProgress(double fraction, int from, int to) {
  if (!std::isfinite(fraction)) fraction = 0.0;
  const double value = std::clamp(from + fraction * (to - from), 0.0, 100.0);
  return static_cast<int>(std::floor(value));
}

}  // namespace hopwell
