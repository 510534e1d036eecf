#include "shell/JobRowLayout.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "intake/JobStatus.h"

namespace hopwell {
namespace {

constexpr int kTextLeftInset = 38;
constexpr int kTextRightInset = 73;
constexpr int kStampRightInset = 3;
constexpr int kFirstLineOffset = 2;
constexpr int kPictureTopOffset = 12;

// The integer part of a percentage; values that have none (NaN, out of range) would make
// the conversion undefined, so they are pinned.
long long TruncatedPercent(double progress) {
  if (std::isnan(progress)) return 0;
  constexpr double kMax = static_cast<double>(std::numeric_limits<int>::max());
  constexpr double kMin = static_cast<double>(std::numeric_limits<int>::min());
  if (progress >= kMax) return std::numeric_limits<int>::max();
  if (progress <= kMin) return std::numeric_limits<int>::min();
  return static_cast<long long>(progress);
}

}  // namespace

RowContent ReadRowContent(JobStatus& job) {
  RowContent content;
  content.state = static_cast<int>(job.GetState());
  content.description = job.Description();
  content.lastMessage = job.LastMessage();
  content.progress = job.GetProgress();
  content.time = job.GetTime();
  return content;
}

int StatusPictureFor(int state, bool selectedAndFocused) {
  switch (static_cast<JobState>(state)) {
    case JobState::Waiting:
    case JobState::Running:
      return selectedAndFocused ? kPictureActiveSelected : kPictureActive;
    case JobState::Failed:
    case JobState::Cancelled:
      return selectedAndFocused ? kPictureFailedSelected : kPictureFailed;
    case JobState::Succeeded:
      return selectedAndFocused ? kPictureSucceededSelected : kPictureSucceeded;
  }
  return kPictureFailed;
}

std::string SecondLine(const RowContent& content) {
  switch (static_cast<JobState>(content.state)) {
    case JobState::Running:
      return fmt::format("Progress {}%", TruncatedPercent(content.progress));
    case JobState::Failed:
      return "Error: " + content.lastMessage;
    default:
      return std::string();
  }
}

std::string ThirdLine(const RowContent& content) {
  return static_cast<JobState>(content.state) == JobState::Running ? content.lastMessage
                                                                   : std::string();
}

std::string FormatRowDate(const boost::posix_time::ptime& time) {
  if (time.is_special()) return std::string();
  const auto date = time.date();
  return fmt::format("{:04}-{:02}-{:02}", static_cast<int>(date.year()),
                     static_cast<int>(date.month()), static_cast<int>(date.day()));
}

std::string FormatRowTime(const boost::posix_time::ptime& time) {
  if (time.is_special()) return std::string();
  const auto clock = time.time_of_day();
  return fmt::format("{:02}:{:02}:{:02}", clock.hours(), clock.minutes(), clock.seconds());
}

RowLayout LayoutJobRow(const RowContent& content, const RowRect& rect, bool selected,
                       bool focused) {
  RowLayout layout;
  const bool emphasised = selected && focused;
  layout.background = emphasised ? RowBackground::SelectedFocused
                      : selected ? RowBackground::Highlight
                                 : RowBackground::Window;

  TextColour normal;
  normal.source = selected ? TextColour::Source::HighlightText : TextColour::Source::WindowText;
  TextColour detail = normal;
  if (static_cast<JobState>(content.state) == JobState::Failed) {
    detail.source = TextColour::Source::Fixed;
    detail.fixed = emphasised ? kErrorYellow : kErrorRed;
  }

  struct Pending {
    std::string text;
    TextColour colour;
  };
  std::vector<Pending> texts;
  if (!content.description.empty()) texts.push_back({content.description, normal});
  if (std::string second = SecondLine(content); !second.empty()) texts.push_back({second, detail});
  if (std::string third = ThirdLine(content); !third.empty()) texts.push_back({third, detail});

  const int height = rect.bottom - rect.top;
  int firstTop = rect.top + kFirstLineOffset;
  if (texts.size() == 2) firstTop += (height - 40) / 2;
  if (texts.size() == 1) firstTop += (height - 22) / 2;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const int top = firstTop + static_cast<int>(i) * kLineHeight;
    layout.lines.push_back(
        {std::move(texts[i].text),
         {rect.left + kTextLeftInset, top, rect.right - kTextRightInset, top + kLineHeight},
         texts[i].colour});
  }

  const std::string date = FormatRowDate(content.time);
  const std::string time = FormatRowTime(content.time);
  const int stampRight = rect.right - kStampRightInset;
  const int stampLeft = rect.right - kTextRightInset;
  const int dateTop = rect.top + kFirstLineOffset;
  if (!date.empty())
    layout.stamps.push_back({date, {stampLeft, dateTop, stampRight, dateTop + kLineHeight}});
  if (!time.empty()) {
    const int timeTop = dateTop + kLineHeight;
    layout.stamps.push_back({time, {stampLeft, timeTop, stampRight, timeTop + kLineHeight}});
  }

  layout.picture = StatusPictureFor(content.state, emphasised);
  const int pictureTop = rect.top + kPictureTopOffset;
  layout.pictureRect = {rect.left, pictureTop, rect.left + kPictureSize, pictureTop + kPictureSize};

  layout.separatorY = rect.bottom - 1;
  layout.separatorLeft = rect.left;
  layout.separatorRight = rect.right;
  return layout;
}

}  // namespace hopwell
