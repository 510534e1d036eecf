#include "shell/RelativeTimeText.h"

#include <cstdint>
#include <ctime>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "common/CaseName.h"
#include "shell/CentreRect.h"

namespace hopwell {
namespace {

struct AgeCase {
  std::int64_t seconds;
  const char* text;
};

// Every bound of the table and the second after it.
const AgeCase kAgeCases[] = {
    {std::numeric_limits<std::int64_t>::min(), "just now"},
    {-3600, "just now"},
    {0, "just now"},
    {59, "just now"},
    {60, "a minute ago"},
    {119, "a minute ago"},
    {120, "2 minutes ago"},
    {2700, "45 minutes ago"},
    {2701, "an hour ago"},
    {5400, "an hour ago"},
    {5401, "2 hours ago"},
    {10799, "2 hours ago"},
    {10800, "3 hours ago"},
    {82799, "22 hours ago"},
    {82800, "a day ago"},
    {129599, "a day ago"},
    {129600, "2 days ago"},
    {259199, "2 days ago"},
    {259200, "3 days ago"},
    {604799, "6 days ago"},
    {604800, "a week ago"},
    {950399, "a week ago"},
    {950400, "2 weeks ago"},
    {1209599, "2 weeks ago"},
    {1209600, "2 weeks ago"},
    {5443199, "8 weeks ago"},
    {5443200, "2 months ago"},
    {49247999, "18 months ago"},
    {49248000, "a year ago"},
    {63071999, "a year ago"},
    {63072000, "2 years ago"},
    {31536000LL * 100, "100 years ago"},
    {std::numeric_limits<std::int64_t>::max(), "292471208677 years ago"},
};

class RelativeTimeTextTable : public ::testing::TestWithParam<AgeCase> {};

TEST_P(RelativeTimeTextTable, WordsTheAge) {
  EXPECT_EQ(RelativeTimeText(GetParam().seconds), GetParam().text) << GetParam().seconds;
}

INSTANTIATE_TEST_SUITE_P(Bounds, RelativeTimeTextTable, ::testing::ValuesIn(kAgeCases),
                         [](const ::testing::TestParamInfo<AgeCase>& info) {
                           std::string age = std::to_string(info.param.seconds);
                           if (age.front() == '-') age = "minus" + age.substr(1);
                           return testing::CaseName(age + " " + info.param.text);
                         });

TEST(RelativeTimeTextSince, MeasuresFromThePastTime) {
  EXPECT_EQ(RelativeTimeTextSince(1000, 1000 + 7200), "2 hours ago");
  // A last check "in the future" (clock set back) is just now, not a negative age.
  EXPECT_EQ(RelativeTimeTextSince(5000, 1000), "just now");
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_EQ(RelativeTimeTextSince(now - 3 * 86400 - 5), "3 days ago");
  EXPECT_EQ(RelativeTimeTextSince(now + 3600), "just now");
}

struct CentreCase {
  ScreenRect outer;
  int width;
  int height;
  int left;
  int top;
};

// Offsets halve the size difference with truncation toward zero: a dialog larger than its
// parent moves left/up by the truncated half, never by one pixel more.
const CentreCase kCentreCases[] = {
    {{0, 0, 1920, 1080}, 474, 296, 723, 392},
    {{100, 50, 485, 400}, 474, 296, 105, 102},
    {{100, 50, 485, 401}, 474, 296, 105, 102},
    {{100, 50, 400, 200}, 475, 297, 63, 2},  // -75/2 = -37, -97/2 = -48
    {{-1920, 0, 1920, 1080}, 100, 100, -1010, 490},
};

class CentreOverTable : public ::testing::TestWithParam<CentreCase> {};

TEST_P(CentreOverTable, CentresAndKeepsTheSize) {
  const CentreCase& c = GetParam();
  const ScreenRect placed = CentreOver(c.outer, c.width, c.height);
  EXPECT_EQ(placed.left, c.left);
  EXPECT_EQ(placed.top, c.top);
  EXPECT_EQ(placed.width, c.width);
  EXPECT_EQ(placed.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(Cases, CentreOverTable, ::testing::ValuesIn(kCentreCases),
                         [](const ::testing::TestParamInfo<CentreCase>& info) {
                           const CentreCase& c = info.param;
                           return testing::CaseName(
                               "Over " + std::to_string(c.outer.left) + " " +
                               std::to_string(c.outer.top) + " " + std::to_string(c.outer.width) +
                               "x" + std::to_string(c.outer.height) + " dialog " +
                               std::to_string(c.width) + "x" + std::to_string(c.height));
                         });

}  // namespace
}  // namespace hopwell
