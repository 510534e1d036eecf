// KelvDB: the operations that change cells, rows, columns, mode and parameters.
#include <algorithm>

#include "storage/KelvDB.h"

namespace hopwell {

bool KelvDB::setCellByName(const char* columnName, std::uint32_t row, const std::string& value) {
  if (!Ready()) return false;
  return setCell(getColumnIndex(columnName != nullptr ? columnName : ""), row, value);
}

bool KelvDB::setCell(std::uint32_t column, std::uint32_t row, const std::string& value) {
  if (!Ready()) return false;
  if (column >= ColumnCount() || row >= RowCount()) {
    return Fail("The specified cell (" + std::to_string(column) + ", " + std::to_string(row) +
                ") does not exist");
  }
  content_.columns[column][row] = value;
  return true;
}

const std::string& KelvDB::getColumnName(std::uint32_t column) {
  if (!Ready()) return kEmptyValue;
  if (column >= ColumnCount()) {
    Fail("The specified column do not exist");
    return kEmptyValue;
  }
  return content_.columnNames[column];
}

bool KelvDB::setColumnName(std::uint32_t column, const std::string& name) {
  if (!Ready()) return false;
  if (name.empty()) return Fail("No valid columnname supplied.");
  if (column >= ColumnCount()) return Fail("The specified column do not exist");
  const std::string lower = KelvDBLower(name);
  for (std::uint32_t other = 0; other < ColumnCount(); ++other) {
    if (other != column && content_.columnNames[other] == lower) {
      return Fail("A column named '" + name + "' already exists.");
    }
  }
  content_.columnNames[column] = lower;
  return true;
}

bool KelvDB::hasColumn(const std::string& name) {
  if (!Ready()) return false;
  return getColumnIndex(name) != kNoColumn;
}

std::uint32_t KelvDB::getColumnIndex(const std::string& name) {
  if (!Ready()) return kNoColumn;
  const std::string lower = KelvDBLower(name);
  const auto found = std::find(content_.columnNames.begin(), content_.columnNames.end(), lower);
  if (found == content_.columnNames.end()) {
    Fail("No column exists with name '" + name + "'");
    return kNoColumn;
  }
  return static_cast<std::uint32_t>(found - content_.columnNames.begin());
}

bool KelvDB::addColumn(const std::string& name) {
  if (!Ready()) return false;
  if (content_.mode == "param") return Fail("Can't add columns in mode param.");
  if (hasColumn(name)) return Fail("A column named '" + name + "' already exist in the database.");
  content_.columns.emplace_back(RowCount());
  content_.columnNames.push_back(KelvDBLower(name));
  return true;
}

bool KelvDB::addEmptyRow() {
  if (!Ready()) return false;
  for (auto& column : content_.columns) column.emplace_back();
  ++content_.rowCount;
  atEnd_ = false;
  return true;
}

bool KelvDB::addRow(const std::vector<std::string>& values) {
  if (!Ready()) return false;
  if (values.size() != ColumnCount()) {
    return Fail("The new row does not have the correct dimension.");
  }
  for (std::size_t i = 0; i < values.size(); ++i) content_.columns[i].push_back(values[i]);
  ++content_.rowCount;
  atEnd_ = false;
  return true;
}

bool KelvDB::deleteColumn(std::uint32_t column) {
  if (!Ready()) return false;
  if (content_.mode == "param") return Fail("Can't delete columns when in param mode.");
  if (column >= ColumnCount() || RowCount() == 0) return Fail("Invalid colindex.");
  content_.columnNames.erase(content_.columnNames.begin() + column);
  content_.columns.erase(content_.columns.begin() + column);
  return true;
}

bool KelvDB::deleteRow(std::uint32_t row) {
  if (!Ready()) return false;
  if (ColumnCount() == 0 || row >= RowCount()) return Fail("Invalid rowindex.");
  for (auto& column : content_.columns) column.erase(column.begin() + row);
  --content_.rowCount;
  cursor_ = 0;
  atBeginning_ = true;
  lastError_.clear();
  return true;
}

bool KelvDB::setMode(const std::string& mode) {
  if (!Ready()) return false;
  const std::string lower = KelvDBLower(mode);
  if (lower != "normal" && lower != "param") return Fail(lower + " is not a valid mode");
  if (lower == "param" && ColumnCount() != 2) {
    return Fail("Can't change to param mode. Number of columns must be 2");
  }
  content_.mode = lower;
  return true;
}

bool KelvDB::setName(const std::string& name) {
  if (!Ready()) return false;
  content_.name = name;
  return true;
}

const std::string& KelvDB::getName() {
  if (!Ready()) return kEmptyValue;
  return content_.name;
}

const std::string& KelvDB::getMode() {
  if (!Ready()) return kEmptyValue;
  return content_.mode;
}

const std::string& KelvDB::getParameter(const std::string& key) {
  if (!Ready()) return kEmptyValue;
  if (content_.mode != "param") {
    Fail("getParameter(String key) is only available when in parameter-mode.");
    return kEmptyValue;
  }
  if (key.empty()) {
    Fail("No valid key specified.");
    return kEmptyValue;
  }
  // A loaded "param" table may have a single column: then no key has a value.
  if (ColumnCount() >= 2) {
    const auto& keys = content_.columns[0];
    const auto found = std::find(keys.begin(), keys.end(), key);
    if (found != keys.end()) return content_.columns[1][found - keys.begin()];
  }
  Fail("Specified parameter '" + key + "' not found.");
  return kEmptyValue;
}

bool KelvDB::setParameter(const std::string& key, const std::string& value) {
  if (!Ready()) return false;
  if (content_.mode != "param") {
    return Fail("setParameter(String key, String value) is only available when in parameter-mode.");
  }
  if (ColumnCount() < 2) return Fail("Can't set parameter. Number of columns must be 2");
  auto& keys = content_.columns[0];
  auto& values = content_.columns[1];
  auto found = std::find(keys.begin(), keys.end(), key);
  if (found == keys.end()) found = std::find(keys.begin(), keys.end(), std::string());
  if (found != keys.end()) {
    const auto row = found - keys.begin();
    keys[row] = key;
    values[row] = value;
    return true;
  }
  keys.push_back(key);
  values.push_back(value);
  // Tables loaded in "param" mode may carry further columns; they stay row-count long.
  for (std::size_t column = 2; column < content_.columns.size(); ++column) {
    content_.columns[column].emplace_back();
  }
  ++content_.rowCount;
  atEnd_ = false;
  return true;
}

}  // namespace hopwell
