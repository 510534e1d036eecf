#include "shell/RelativeTimeText.h"

#include <ctime>

#include <boost/format.hpp>

namespace hopwell {
namespace {

struct Bound {
  std::int64_t atMost;   // the row applies up to and including this many seconds
  const char* text;      // "%1%" is the quotient
  std::int64_t divisor;  // 0: the text is fixed
};

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kWeek = 604800;
constexpr std::int64_t kMonth = 2592000;  // 30 days
constexpr std::int64_t kYear = 31536000;  // 365 days

// First matching row wins; anything beyond the last row counts in years.
constexpr Bound kBounds[] = {
    {59, "just now", 0},
    {119, "a minute ago", 0},
    {2700, "%1% minutes ago", kMinute},
    {5400, "an hour ago", 0},
    {10799, "2 hours ago", 0},
    {82799, "%1% hours ago", kHour},
    {129599, "a day ago", 0},
    {259199, "2 days ago", 0},
    {604799, "%1% days ago", kDay},
    {950399, "a week ago", 0},
    {1209599, "2 weeks ago", 0},
    {5443199, "%1% weeks ago", kWeek},
    {49247999, "%1% months ago", kMonth},
    {63071999, "a year ago", 0},
};

std::string Fill(const char* text, std::int64_t seconds, std::int64_t divisor) {
  if (divisor == 0) return text;
  return (boost::format(text) % (seconds / divisor)).str();
}

}  // namespace

std::string RelativeTimeText(std::int64_t seconds) {
  for (const Bound& bound : kBounds) {
    if (seconds <= bound.atMost) return Fill(bound.text, seconds, bound.divisor);
  }
  return Fill("%1% years ago", seconds, kYear);
}

std::string RelativeTimeTextSince(std::int64_t pastEpochSeconds, std::int64_t nowEpochSeconds) {
  return RelativeTimeText(nowEpochSeconds - pastEpochSeconds);
}

std::string RelativeTimeTextSince(std::int64_t pastEpochSeconds) {
  return RelativeTimeTextSince(pastEpochSeconds, static_cast<std::int64_t>(std::time(nullptr)));
}

}  // namespace hopwell
