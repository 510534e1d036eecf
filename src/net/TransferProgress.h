#pragma once

#include <cstdint>

namespace hopwell {

// Helpers for progress callbacks that turn byte counts into a job's progress value.

// done / total; 0 when the total is unknown (0 or negative, e.g. a missing size read as
// -1). May exceed 1 when more arrives than was announced.
double TransferFraction(std::uint64_t done, std::int64_t total);

// Integer part of from + fraction * (to - from), always within 0 to 100 (also for a
// fraction that is not finite).
int ScaledProgress(double fraction, int from, int to);

}  // namespace hopwell
