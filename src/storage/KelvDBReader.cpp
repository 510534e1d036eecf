#include "storage/KelvDBReader.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

namespace hopwell {
namespace {

constexpr std::string_view kMagic = "KELVDBF-";

// A decimal integer with an optional sign and at least one digit, nothing else.
std::optional<std::int64_t> ParseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (magnitude > kMax) return std::nullopt;
  const auto value = static_cast<std::int64_t>(magnitude);
  return negative ? -value : value;
}

std::vector<std::string> SplitAtCommas(std::string_view text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    parts.emplace_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

class Parser {
 public:
  Parser(std::string_view text, KelvDBContent& content, std::string& lastError)
      : text_(text), content_(content), lastError_(lastError) {}

  bool Run() { return ReadIdentification() && ReadHeader() && ReadCells(); }

 private:
  bool Fail(std::string message) {
    lastError_ = std::move(message);
    return false;
  }

  bool ReadIdentification() {
    if (text_.size() < kMagic.size()) return Fail("Couldn't read the header of the file.");
    if (text_.substr(0, kMagic.size()) != kMagic) {
      return Fail("The specified file is not a valid KelvDB-file.");
    }
    const std::size_t lineEnd = text_.find_first_of("\r\n", kMagic.size());
    if (lineEnd == std::string_view::npos) {
      return Fail("Didn't find any linebreak. The specified file is not a KelvDB");
    }
    pos_ = lineEnd + 1;
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    return true;
  }

  // A line ends at LF, CR or CR LF; nothing when the input is exhausted.
  std::optional<std::string_view> ReadLine() {
    if (pos_ >= text_.size()) return std::nullopt;
    const std::size_t start = pos_;
    std::size_t end = text_.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text_.size();
    pos_ = end;
    if (pos_ < text_.size()) {
      const bool cr = text_[pos_] == '\r';
      ++pos_;
      if (cr && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    }
    return text_.substr(start, end - start);
  }

  // A key seen while present is not applied: it is reported and counts as missing after.
  bool Repeated(bool& present, const char* message) {
    if (!present) return false;
    lastError_ = message;
    present = false;
    return true;
  }

  bool ReadHeader() {
    content_.version = 1;
    bool haveMode = false, haveName = false, haveSize = false, haveFields = false;
    bool sizeValid = true, complete = false;
    while (auto line = ReadLine()) {
      if (line->empty()) break;
      if (*line == "--") {
        complete = true;
        break;
      }
      if (line->front() == ';') continue;
      if (line->size() < 2 || (*line)[1] != '=') break;
      const std::string_view value = line->substr(2);
      switch (line->front()) {
        case 'm':
          if (Repeated(haveMode, "mode defined twice")) break;
          content_.mode = KelvDBLower(std::string(value));
          haveMode = true;
          break;
        case 'n':
          if (Repeated(haveName, "name defined twice")) break;
          content_.name = std::string(value);
          haveName = true;
          break;
        case 's': {
          if (Repeated(haveSize, "size defined twice")) break;
          const std::vector<std::string> parts = SplitAtCommas(value);
          if (parts.size() != 2) break;
          const auto columns = ParseInteger(parts[0]);
          const auto rows = ParseInteger(parts[1]);
          // Only the row count is used; it must fit the table's signed 32-bit count.
          sizeValid =
              columns && rows && *rows >= 0 && *rows <= std::numeric_limits<std::int32_t>::max();
          content_.rowCount = sizeValid ? static_cast<std::int32_t>(*rows) : 0;
          haveSize = true;
          break;
        }
        case 'f':
          if (Repeated(haveFields, "field defined twice")) break;
          content_.columnNames = SplitAtCommas(KelvDBLower(std::string(value)));
          haveFields = true;
          break;
        default:
          break;  // unknown keys are ignored
      }
    }
    const bool validMode = content_.mode == "normal" || content_.mode == "param";
    if (!(complete && haveMode && haveSize && haveFields && validMode)) {
      return Fail("Couldn't read header.");
    }
    if (!sizeValid) return Fail("Invalid size in header.");
    return true;
  }

  bool ReadCells() {
    const std::size_t columnCount = content_.columnNames.size();
    const auto rowCount = static_cast<std::size_t>(content_.rowCount);
    content_.columns.assign(columnCount, {});
    // A cell takes at least four bytes ("c=0:"), so the input bounds the rows it can hold:
    // a lying row count reserves no more than the input could fill.
    const std::size_t possibleRows = (text_.size() - pos_) / (4 * columnCount) + 1;
    for (auto& column : content_.columns) column.reserve(std::min(rowCount, possibleRows));
    for (std::size_t row = 0; row < rowCount; ++row) {
      for (std::size_t column = 0; column < columnCount; ++column) {
        if (!ReadCell(content_.columns[column])) return false;
      }
    }
    return true;
  }

  bool ReadCell(std::vector<std::string>& column) {
    while (pos_ < text_.size() && (text_[pos_] == '\r' || text_[pos_] == '\n')) ++pos_;
    if (pos_ >= text_.size()) return Fail("Syntax error. EOF reached.");
    if (text_[pos_] != 'c') {
      return Fail(std::string("Syntax error. Unexpected character: ") + text_[pos_]);
    }
    ++pos_;
    if (pos_ >= text_.size() || text_[pos_] != '=') {
      return Fail("Syntax error in KelvDB at byte: ");
    }
    ++pos_;
    const std::size_t colon = text_.find(':', pos_);
    if (colon == std::string_view::npos) return Fail("Error while reading length of cell");
    const auto length = ParseInteger(text_.substr(pos_, colon - pos_));
    if (!length) return Fail("Invalid length of cell.");
    if (*length < 0) return Fail("Didn't find any length of cell");
    pos_ = colon + 1;
    // Checked before anything is allocated, so a lying length costs nothing.
    if (static_cast<std::uint64_t>(*length) > text_.size() - pos_) {
      return Fail("can not readContents");
    }
    const auto size = static_cast<std::size_t>(*length);
    column.emplace_back(text_.substr(pos_, size));
    pos_ += size;
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  KelvDBContent& content_;
  std::string& lastError_;
};

}  // namespace

bool KelvDBReader::Read(std::string_view text, KelvDBContent& content, std::string& lastError) {
  content.Clear();
  return Parser(text, content, lastError).Run();
}

void KelvDBReader::FromFileText(std::string& bytes) {
  const std::size_t first = bytes.find('\r');
  if (first == std::string::npos) return;
  // The text only shrinks, so it is compacted over itself.
  std::size_t out = first;
  for (std::size_t in = first; in < bytes.size(); ++in) {
    if (bytes[in] == '\r' && in + 1 < bytes.size() && bytes[in + 1] == '\n') continue;
    bytes[out++] = bytes[in];
  }
  bytes.resize(out);
}

}  // namespace hopwell
