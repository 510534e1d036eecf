#include "shell/JobRowLayout.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "intake/JobStatus.h"

namespace hopwell {
namespace {

namespace pt = boost::posix_time;

const pt::ptime kNoon = pt::time_from_string("2026-03-04 05:06:07");

RowContent Content(JobState state, std::string description, std::string lastMessage = "",
                   double progress = 0) {
  RowContent content;
  content.state = static_cast<int>(state);
  content.description = std::move(description);
  content.lastMessage = std::move(lastMessage);
  content.progress = progress;
  content.time = kNoon;
  return content;
}

std::vector<int> LineTops(const RowLayout& layout) {
  std::vector<int> tops;
  for (const auto& line : layout.lines) tops.push_back(line.rect.top);
  return tops;
}

const RowRect kRow{0, 112, 485, 168};  // the third row of a 485-pixel list

TEST(JobRowLayoutTest, LinesByState) {
  struct Case {
    JobState state;
    std::string last;
    double progress;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {JobState::Running, "Downloading 3 MB", 37.9, {"D", "Progress 37%", "Downloading 3 MB"}},
      {JobState::Running, "", 12, {"D", "Progress 12%"}},
      {JobState::Failed, "No connection", 55, {"D", "Error: No connection"}},
      {JobState::Failed, "", 0, {"D", "Error: "}},
      {JobState::Waiting, "queued", 0, {"D"}},
      {JobState::Succeeded, "all done", 100, {"D"}},
      {JobState::Cancelled, "Cancelled", 40, {"D"}},
      {static_cast<JobState>(7), "odd", 50, {"D"}},
  };
  for (const Case& c : cases) {
    const RowLayout layout =
        LayoutJobRow(Content(c.state, "D", c.last, c.progress), kRow, false, false);
    std::vector<std::string> texts;
    for (const auto& line : layout.lines) texts.push_back(line.text);
    EXPECT_EQ(texts, c.lines) << static_cast<int>(c.state) << " " << c.last;
  }
}

TEST(JobRowLayoutTest, ProgressIsTruncatedNotRounded) {
  EXPECT_EQ(SecondLine(Content(JobState::Running, "D", "", 37.9)), "Progress 37%");
  EXPECT_EQ(SecondLine(Content(JobState::Running, "D", "", 99.99)), "Progress 99%");
  EXPECT_EQ(SecondLine(Content(JobState::Running, "D", "", 100)), "Progress 100%");
  EXPECT_EQ(SecondLine(Content(JobState::Running, "D", "", -0.5)), "Progress 0%");
}

TEST(JobRowLayoutTest, ProgressWithoutIntegerPartIsPinned) {
  EXPECT_EQ(SecondLine(Content(JobState::Running, "D", "", std::nan(""))), "Progress 0%");
  EXPECT_EQ(SecondLine(Content(JobState::Running, "D", "", 1e300)), "Progress 2147483647%");
  EXPECT_EQ(
      SecondLine(Content(JobState::Running, "D", "", -std::numeric_limits<double>::infinity())),
      "Progress -2147483648%");
}

TEST(JobRowLayoutTest, VerticalPlacementByLineCount) {
  // Three lines at +2, +20, +38; two centred at +2 + (56 - 40) / 2; one at +2 + (56 - 22) / 2.
  EXPECT_EQ(LineTops(LayoutJobRow(Content(JobState::Running, "D", "m", 5), kRow, false, false)),
            (std::vector<int>{114, 132, 150}));
  EXPECT_EQ(LineTops(LayoutJobRow(Content(JobState::Running, "D", "", 5), kRow, false, false)),
            (std::vector<int>{122, 140}));
  EXPECT_EQ(LineTops(LayoutJobRow(Content(JobState::Succeeded, "D"), kRow, false, false)),
            (std::vector<int>{131}));
}

TEST(JobRowLayoutTest, CentringHalvesTowardZeroForOddAndShortRows) {
  const RowRect odd{0, 0, 300, 57};
  EXPECT_EQ(LineTops(LayoutJobRow(Content(JobState::Failed, "D", "x"), odd, false, false)),
            (std::vector<int>{10, 28}));  // 2 + 17 / 2
  EXPECT_EQ(LineTops(LayoutJobRow(Content(JobState::Waiting, "D"), odd, false, false)),
            (std::vector<int>{19}));     // 2 + 35 / 2
  const RowRect tiny{0, 100, 300, 121};  // height 21: (21 - 22) / 2 is 0, not -1
  EXPECT_EQ(LineTops(LayoutJobRow(Content(JobState::Waiting, "D"), tiny, false, false)),
            (std::vector<int>{102}));
  const RowRect shortRow{0, 100, 300, 137};  // height 37: (37 - 40) / 2 is -1
  EXPECT_EQ(LineTops(LayoutJobRow(Content(JobState::Failed, "D", "x"), shortRow, false, false)),
            (std::vector<int>{101, 119}));
}

TEST(JobRowLayoutTest, TextAreaAndStampsAndPictureAndSeparator) {
  const RowLayout layout =
      LayoutJobRow(Content(JobState::Running, "D", "m", 5), kRow, false, false);
  for (const auto& line : layout.lines) {
    EXPECT_EQ(line.rect.left, 38);
    EXPECT_EQ(line.rect.right, 485 - 73);
    EXPECT_EQ(line.rect.bottom - line.rect.top, kLineHeight);
  }
  ASSERT_EQ(layout.stamps.size(), 2u);
  EXPECT_EQ(layout.stamps[0].text, "2026-03-04");
  EXPECT_EQ(layout.stamps[0].rect.top, 114);
  EXPECT_EQ(layout.stamps[0].rect.right, 482);
  EXPECT_EQ(layout.stamps[1].text, "05:06:07");
  EXPECT_EQ(layout.stamps[1].rect.top, 132);
  EXPECT_EQ(layout.stamps[1].rect.right, 482);
  EXPECT_EQ(layout.pictureRect, (RowRect{0, 124, 32, 156}));
  EXPECT_EQ(layout.separatorY, 167);
  EXPECT_EQ(layout.separatorLeft, 0);
  EXPECT_EQ(layout.separatorRight, 485);
}

TEST(JobRowLayoutTest, SpecialTimeDrawsNoStamps) {
  RowContent content = Content(JobState::Waiting, "D");
  content.time = pt::ptime(pt::not_a_date_time);
  EXPECT_TRUE(LayoutJobRow(content, kRow, false, false).stamps.empty());
  content.time = pt::ptime(pt::pos_infin);
  EXPECT_TRUE(LayoutJobRow(content, kRow, false, false).stamps.empty());
  EXPECT_EQ(FormatRowDate(content.time), "");
  EXPECT_EQ(FormatRowTime(pt::time_from_string("1999-12-31 23:59:58")), "23:59:58");
}

TEST(JobRowLayoutTest, PicturesByStateAndSelection) {
  struct Case {
    int state;
    int normal;
    int emphasised;
  };
  for (const Case& c : std::vector<Case>{{0, 136, 138},
                                         {1, 136, 138},
                                         {2, 135, 139},
                                         {3, 137, 140},
                                         {4, 135, 139},  // cancelled, shown as failed
                                         {5, 135, 135},
                                         {-1, 135, 135}}) {
    RowContent content = Content(static_cast<JobState>(c.state), "D");
    EXPECT_EQ(LayoutJobRow(content, kRow, false, false).picture, c.normal) << c.state;
    EXPECT_EQ(LayoutJobRow(content, kRow, true, false).picture, c.normal) << c.state;
    EXPECT_EQ(LayoutJobRow(content, kRow, false, true).picture, c.normal) << c.state;
    EXPECT_EQ(LayoutJobRow(content, kRow, true, true).picture, c.emphasised) << c.state;
  }
}

TEST(JobRowLayoutTest, BackgroundAndColours) {
  using Source = TextColour::Source;
  const RowContent failed = Content(JobState::Failed, "D", "x");
  const RowContent running = Content(JobState::Running, "D", "x", 3);

  RowLayout plain = LayoutJobRow(failed, kRow, false, false);
  EXPECT_EQ(plain.background, RowBackground::Window);
  EXPECT_EQ(plain.lines[0].colour.source, Source::WindowText);
  EXPECT_EQ(plain.lines[1].colour, (TextColour{Source::Fixed, kErrorRed}));

  RowLayout selected = LayoutJobRow(failed, kRow, true, false);
  EXPECT_EQ(selected.background, RowBackground::Highlight);
  EXPECT_EQ(selected.lines[0].colour.source, Source::HighlightText);
  EXPECT_EQ(selected.lines[1].colour, (TextColour{Source::Fixed, kErrorRed}));

  RowLayout emphasised = LayoutJobRow(failed, kRow, true, true);
  EXPECT_EQ(emphasised.background, RowBackground::SelectedFocused);
  EXPECT_EQ(emphasised.lines[0].colour.source, Source::HighlightText);
  EXPECT_EQ(emphasised.lines[1].colour, (TextColour{Source::Fixed, kErrorYellow}));

  // Only failed jobs colour their detail lines.
  RowLayout active = LayoutJobRow(running, kRow, true, true);
  ASSERT_EQ(active.lines.size(), 3u);
  EXPECT_EQ(active.lines[1].colour.source, Source::HighlightText);
  EXPECT_EQ(active.lines[2].colour.source, Source::HighlightText);
  EXPECT_EQ(LayoutJobRow(running, kRow, false, true).background, RowBackground::Window);
}

TEST(JobRowLayoutTest, ReadsTheJob) {
  JobStatus intakeFailure(ActionKind::Unknown, "", "kelv:nothing");
  intakeFailure.JobFailed("Unknown command nothing");
  const RowLayout layout = LayoutJobRow(ReadRowContent(intakeFailure), kRow, false, false);
  ASSERT_EQ(layout.lines.size(), 2u);
  EXPECT_EQ(layout.lines[0].text, "Invalid action kind");
  EXPECT_EQ(layout.lines[1].text, "Error: Unknown command nothing");
  // Reading the row stamps the job's time, so it is drawn and stays the same afterwards.
  ASSERT_EQ(layout.stamps.size(), 2u);
  EXPECT_EQ(layout.stamps[0].text, FormatRowDate(intakeFailure.GetTime()));

  JobStatus download(ActionKind::Download, "", "kelv:open:x");
  download.SetState(JobState::Running);
  download.SetProgress(37.9);
  const RowContent content = ReadRowContent(download);
  EXPECT_EQ(SecondLine(content), "Progress 37%");
  EXPECT_EQ(ThirdLine(content), "");
  EXPECT_EQ(LayoutJobRow(content, kRow, false, false).lines.size(), 2u);
}

}  // namespace
}  // namespace hopwell
