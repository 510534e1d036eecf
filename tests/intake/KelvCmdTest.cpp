#include "intake/KelvCmd.h"

#include <gtest/gtest.h>

#include "common/LogCapture.h"

namespace hopwell {
namespace {

class NoopCmd : public KelvCmd {
 public:
  void DoExecute() override { ran = true; }
  bool ran = false;
};

TEST(KelvCmdTest, FormatBytesUnits) {
  EXPECT_EQ(KelvCmd::FormatBytes(0), "0 B");
  EXPECT_EQ(KelvCmd::FormatBytes(1024), "1024 B");
  EXPECT_EQ(KelvCmd::FormatBytes(1025), "1 kB");
  EXPECT_EQ(KelvCmd::FormatBytes(1048576), "1024 kB");
  EXPECT_EQ(KelvCmd::FormatBytes(1572864), "1 MB");
  EXPECT_EQ(KelvCmd::FormatBytes(5ull << 30), "5 GB");
  EXPECT_EQ(KelvCmd::FormatBytes(~0ull), "15 EB");
}

TEST(KelvCmdTest, FormatDurationWords) {
  EXPECT_EQ(KelvCmd::FormatDuration(0), "0 seconds");
  EXPECT_EQ(KelvCmd::FormatDuration(59.9), "59 seconds");
  EXPECT_EQ(KelvCmd::FormatDuration(60), "1 minute 0 seconds");
  EXPECT_EQ(KelvCmd::FormatDuration(65), "1 minute 5 seconds");
  EXPECT_EQ(KelvCmd::FormatDuration(120), "2 minutes 0 seconds");
  EXPECT_EQ(KelvCmd::FormatDuration(3725), "62 minutes 5 seconds");
}

TEST(KelvCmdTest, FirstReportIsAlwaysDueThenThrottled) {
  NoopCmd cmd;
  EXPECT_TRUE(cmd.ShouldReportProgress());
  // Whole-second clock: a second call in the same second is not due. It may straddle a
  // second boundary, so allow one more true at most among several calls.
  int due = 0;
  for (int i = 0; i < 5; ++i) due += cmd.ShouldReportProgress() ? 1 : 0;
  EXPECT_LE(due, 1);
}

TEST(KelvCmdTest, EstimateOnFirstCallUsesTinyElapsed) {
  NoopCmd cmd;
  // elapsed 0 -> 0.001 s; rate = 1000 / 0.001 = 1e6 B/s; 9000 remaining -> 0.009 s.
  EXPECT_NEAR(cmd.EstimateRemainingSeconds(10000, 1000), 0.009, 1e-9);
  NoopCmd idle;
  // Nothing done: the average is forced to 0.00001, so the estimate is huge.
  EXPECT_NEAR(idle.EstimateRemainingSeconds(1000, 0), 1000 / 0.00001, 1);
}

TEST(KelvCmdTest, EstimateNeverNegativeWhenDoneExceedsTotal) {
  NoopCmd cmd;
  EXPECT_EQ(cmd.EstimateRemainingSeconds(100, 200), 0.0);
}

TEST(KelvCmdTest, RunExecutesAndLogsDone) {
  testing::LogCapture log;
  NoopCmd cmd;
  cmd.Run();
  EXPECT_TRUE(cmd.ran);
  EXPECT_TRUE(log.Has("info", "Command is done"));
}

}  // namespace
}  // namespace hopwell
