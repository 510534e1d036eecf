#include "storage/KelvDB.h"

#include <cstdio>
#include <new>
#include <sstream>

#include <boost/filesystem/operations.hpp>

#include "storage/DurableFile.h"
#include "storage/FileOperations.h"
#include "storage/KelvDBReader.h"
#include "storage/KelvDBWriter.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

constexpr const char* kNotInitialized = "KelvDb not initialized!";

bool ReadAll(std::FILE* file, std::string& bytes) {
  char block[65536];
  std::size_t count = 0;
  while ((count = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, count);
  return std::ferror(file) == 0;
}

}  // namespace

KelvDB::~KelvDB() = default;

bool KelvDB::Fail(std::string message) {
  lastError_ = std::move(message);
  return false;
}

bool KelvDB::Ready() {
  return initialized_ || Fail(kNotInitialized);
}

std::uint32_t KelvDB::ColumnCount() const {
  return static_cast<std::uint32_t>(content_.columns.size());
}

std::uint32_t KelvDB::RowCount() const {
  return static_cast<std::uint32_t>(content_.rowCount);
}

bool KelvDB::create(std::uint32_t columnCount, std::uint32_t rowCount) {
  content_.Clear();
  try {
    content_.columnNames.assign(columnCount, std::string());
    content_.columns.assign(columnCount, std::vector<std::string>(rowCount));
  } catch (const std::exception&) {  // bad_alloc or length_error for absurd sizes
    content_.Clear();
    initialized_ = false;
    return Fail("Not enough memory to create the KelvDB.");
  }
  content_.rowCount = static_cast<std::int32_t>(rowCount);
  content_.mode = "normal";
  content_.version = 2;
  initialized_ = true;
  atBeginning_ = true;
  atEnd_ = rowCount == 0;
  cursor_ = rowCount > 0 ? 0 : -1;
  return true;
}

void KelvDB::ResetForLoad() {
  initialized_ = false;
  readFailed_ = false;
  atBeginning_ = true;
  atEnd_ = true;
  cursor_ = -1;
  content_.Clear();
}

bool KelvDB::LoadText(std::string_view text) {
  if (!KelvDBReader::Read(text, content_, lastError_)) {
    content_.Clear();
    return false;
  }
  initialized_ = true;
  cursor_ = 0;
  atEnd_ = content_.rowCount == 0;
  return true;
}

bool KelvDB::loadFromStream(std::istream& stream) {
  ResetForLoad();
  readFailed_ = true;
  if (!stream.good()) return Fail("Unable to read from stream");
  std::string text;
  char block[65536];
  while (stream.read(block, sizeof block) || stream.gcount() > 0) {
    text.append(block, static_cast<std::size_t>(stream.gcount()));
  }
  if (stream.bad()) return Fail("Unable to read from stream");
  readFailed_ = false;
  return LoadText(text);
}

bool KelvDB::loadFromString(const std::string& text) {
  ResetForLoad();
  return LoadText(text);
}

bool KelvDB::load(const fs::path& path) {
  ResetForLoad();
  FileHandle file = OpenFile(path, "rb");
  std::string bytes;
  boost::system::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (!error && size < (std::uintmax_t{1} << 32)) bytes.reserve(static_cast<std::size_t>(size));
  if (!file || !ReadAll(file.get(), bytes)) {
    readFailed_ = true;
    return Fail("Unable to read from stream");
  }
  KelvDBReader::FromFileText(bytes);
  return LoadText(bytes);
}

bool KelvDB::isInitialized() const {
  return initialized_;
}

bool KelvDB::save(const fs::path& path) {
  if (!Ready()) return false;
  if (content_.mode.empty()) content_.mode = "normal";
  // Columns are named, and the last error told so, only when the table was written.
  std::vector<std::string> names = content_.columnNames;
  const std::string message = KelvDBWriter::NameUnnamedColumns(content_.columnNames);
  std::string text;
  KelvDBWriter::Write(content_, text, true);
  // Replaced whole and synced: a reader never sees half a table, and neither a failed write
  // nor a crash or power cut loses the rows the file held.
  boost::system::error_code error;
  if (!ReplaceFileDurably(path, text, error)) {
    content_.columnNames = std::move(names);
    return false;
  }
  if (!message.empty()) lastError_ = message;
  return true;
}

std::string KelvDB::toString() {
  if (!Ready()) return kEmptyValue;
  std::size_t size = 0;
  for (const auto& name : content_.columnNames) size += name.size() + 1;
  for (const auto& column : content_.columns) {
    for (const auto& cell : column) size += cell.size() + 1;
  }
  std::string text;
  text.reserve(size + 2 * RowCount());
  for (const auto& name : content_.columnNames) text.append(name).push_back('|');
  for (std::uint32_t row = 0; row < RowCount(); ++row) {
    text.append("\n|");
    for (const auto& column : content_.columns) text.append(column[row]).push_back('|');
  }
  return text;
}

bool KelvDB::next() {
  if (!Ready()) return false;
  if (cursor_ < content_.rowCount - 1) {
    ++cursor_;
    atBeginning_ = false;
    return true;
  }
  atEnd_ = true;
  return Fail("Reached end of KelvDB.");
}

bool KelvDB::previous() {
  if (!Ready()) return false;
  if (cursor_ > 0) {
    --cursor_;
    atEnd_ = false;
    return true;
  }
  atBeginning_ = true;
  return Fail("Already at beginning of KelvDB");
}

bool KelvDB::first() {
  if (!Ready()) return false;
  cursor_ = 0;
  atBeginning_ = true;
  atEnd_ = content_.rowCount == 0;
  return true;
}

bool KelvDB::last() {
  if (!Ready()) return false;
  cursor_ = content_.rowCount - 1;
  atEnd_ = false;
  atBeginning_ = content_.rowCount == 1;
  return true;
}

bool KelvDB::goTo(std::uint32_t row) {
  if (!Ready()) return false;
  if (row >= RowCount()) return Fail("Passed end of KelvDB.");
  cursor_ = static_cast<std::int32_t>(row);
  atEnd_ = false;
  atBeginning_ = row == 0;
  return true;
}

bool KelvDB::move(std::int32_t offset) {
  if (!Ready()) return false;
  // Unsigned arithmetic: a step below row 0 wraps to a huge index and is refused.
  return goTo(static_cast<std::uint32_t>(cursor_) + static_cast<std::uint32_t>(offset));
}

const std::string& KelvDB::getCellByName(const std::string& columnName, std::uint32_t row) {
  if (!Ready()) return kEmptyValue;
  return getCell(getColumnIndex(columnName), row);
}

const std::string& KelvDB::getCell(std::uint32_t column, std::uint32_t row) {
  if (!Ready()) return kEmptyValue;
  if (column >= ColumnCount() || row >= RowCount()) {
    Fail("Specified cell does not exist.");
    return kEmptyValue;
  }
  return content_.columns[column][row];
}

bool KelvDB::getRow(std::uint32_t row, std::vector<std::string>& values) {
  if (!Ready()) return false;
  if (ColumnCount() == 0 || row >= RowCount()) return Fail("Specified row does not exist.");
  // Assigned into the strings the caller passes again and again: a row read costs no
  // allocation once they have grown to the cells' sizes.
  values.resize(ColumnCount());
  for (std::size_t column = 0; column < values.size(); ++column) {
    values[column] = content_.columns[column][row];
  }
  return true;
}

bool KelvDB::getCurrentRow(std::vector<std::string>& values) {
  if (!Ready()) return false;
  return getRow(static_cast<std::uint32_t>(cursor_), values);
}

bool KelvDB::getColumn(std::uint32_t column, std::vector<std::string>& values) {
  if (!Ready()) return false;
  if (column >= ColumnCount() || RowCount() == 0) return Fail("Specified col does not exist.");
  values = content_.columns[column];
  return true;
}

const std::string& KelvDB::getLastError() const {
  return lastError_;
}

std::int32_t KelvDB::getColumnCount() {
  if (!Ready()) return -1;
  return static_cast<std::int32_t>(ColumnCount());
}

std::int32_t KelvDB::getRowCount() {
  if (!Ready()) return -1;
  return content_.rowCount;
}

void KelvDB::clearError() {
  lastError_.clear();
}

bool KelvDB::hasError() const {
  return !lastError_.empty();
}

bool KelvDB::isAtBeginning() const {
  return atBeginning_;
}

bool KelvDB::isAtEnd() const {
  return atEnd_;
}

std::int32_t KelvDB::getCurrentRowIndex() {
  if (!Ready()) return -1;
  return cursor_;
}

}  // namespace hopwell
