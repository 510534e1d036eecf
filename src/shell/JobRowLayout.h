#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

namespace hopwell {

class JobStatus;

// Geometry and colours of one job-list row, worked out without any toolkit so that the
// delegate only paints what this says and tests can check every rule without a display.

struct RowRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const RowRect&) const = default;
};

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kSelectedFocusedFill{0, 102, 255};
inline constexpr Rgb kSeparatorGrey{204, 204, 204};
inline constexpr Rgb kErrorRed{255, 0, 0};
inline constexpr Rgb kErrorYellow{255, 255, 0};

inline constexpr int kRowHeight = 56;
inline constexpr int kLineHeight = 18;
inline constexpr int kPictureSize = 32;

// Status pictures by id (drawn by the front end).
enum StatusPicture : int {
  kPictureFailed = 135,
  kPictureActive = 136,
  kPictureSucceeded = 137,
  kPictureActiveSelected = 138,
  kPictureFailedSelected = 139,
  kPictureSucceededSelected = 140,
};

enum class RowBackground { Window, Highlight, SelectedFocused };

// Where a colour comes from: the platform palette (window text, highlight text) or a
// fixed value.
struct TextColour {
  enum class Source { WindowText, HighlightText, Fixed } source = Source::WindowText;
  Rgb fixed{};
  bool operator==(const TextColour&) const = default;
};

struct RowTextLine {
  std::string text;
  RowRect rect;  // one line high; the text is drawn left-aligned, vertically centred
  TextColour colour;
};

struct RowStamp {
  std::string text;
  RowRect rect;  // the text is drawn right-aligned in it
};

// What the row shows, read from a job.
struct RowContent {
  int state = 0;  // JobState as stored; values outside the named ones are possible
  std::string description;
  std::string lastMessage;
  double progress = 0;
  boost::posix_time::ptime time;  // not_a_date_time: no date and time drawn
};

struct RowLayout {
  RowBackground background = RowBackground::Window;
  std::vector<RowTextLine> lines;  // one to three
  std::vector<RowStamp> stamps;    // date, then time; none for a special time
  int picture = kPictureFailed;
  RowRect pictureRect;
  int separatorY = 0;  // a one-pixel line from rect.left to rect.right
  int separatorLeft = 0;
  int separatorRight = 0;
};

// Reads the job's fields, each through its own lock. GetTime stamps a still unset time.
RowContent ReadRowContent(JobStatus& job);

int StatusPictureFor(int state, bool selectedAndFocused);

// Line 2 and line 3 by state (empty when the state has none).
std::string SecondLine(const RowContent& content);
std::string ThirdLine(const RowContent& content);

// "%Y-%m-%d" and "%H:%M:%S"; empty texts for a special time value.
std::string FormatRowDate(const boost::posix_time::ptime& time);
std::string FormatRowTime(const boost::posix_time::ptime& time);

RowLayout LayoutJobRow(const RowContent& content, const RowRect& rect, bool selected, bool focused);

}  // namespace hopwell
