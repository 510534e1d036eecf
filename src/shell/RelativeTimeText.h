#pragma once

#include <cstdint>
#include <string>

namespace hopwell {

// The age of something in words: "just now", "a minute ago", "%1% minutes ago", ...
// Negative ages (a clock set back) read "just now".
std::string RelativeTimeText(std::int64_t seconds);

// The age of `pastEpochSeconds` (seconds since the epoch) at `nowEpochSeconds`.
std::string RelativeTimeTextSince(std::int64_t pastEpochSeconds, std::int64_t nowEpochSeconds);
// The same, measured against the current time.
std::string RelativeTimeTextSince(std::int64_t pastEpochSeconds);

}  // namespace hopwell
