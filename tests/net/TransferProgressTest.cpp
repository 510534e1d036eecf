#include "net/TransferProgress.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace hopwell {
namespace {

TEST(TransferFraction, UnknownTotalsGiveZeroInsteadOfDividing) {
  EXPECT_EQ(TransferFraction(0, 0), 0.0);
  EXPECT_EQ(TransferFraction(5000, 0), 0.0);
  EXPECT_EQ(TransferFraction(5000, -1), 0.0);
  EXPECT_DOUBLE_EQ(TransferFraction(50, 200), 0.25);
  EXPECT_DOUBLE_EQ(TransferFraction(300, 200), 1.5);  // more than announced
  EXPECT_DOUBLE_EQ(TransferFraction(1ull << 40, 1ll << 41), 0.5);
}

TEST(ScaledProgress, StaysWithinZeroToHundred) {
  struct Case {
    double fraction;
    int from, to, expected;
  };
  const Case cases[] = {
      {0.0, 15, 90, 15},   {1.0, 15, 90, 90},    {0.5, 15, 90, 52},
      {1.5, 15, 90, 100},  {40.0, 15, 90, 100},  {-3.0, 15, 90, 0},
      {1.0, 0, 100, 100},  {0.999, 0, 100, 99},
      {std::numeric_limits<double>::infinity(), 15, 90, 15},
      {std::numeric_limits<double>::quiet_NaN(), 15, 90, 15},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaledProgress(c.fraction, c.from, c.to), c.expected) << c.fraction;
  }
}

}  // namespace
}  // namespace hopwell
