#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hopwell {

// What a KelvDB table holds, shared by the table and its text reader and writer. Storage is
// column-major: columns[c][r] is the cell of column c, row r; every column holds exactly
// rowCount cells.
struct KelvDBContent {
  std::vector<std::string> columnNames;
  std::vector<std::vector<std::string>> columns;
  std::int32_t rowCount = 0;
  std::string mode;
  std::string name;
  double version = 0;

  void Clear() {
    columnNames.clear();
    columns.clear();
    rowCount = 0;
    mode.clear();
    name.clear();
    version = 0;
  }
};

// ASCII lower case, independent of the process locale.
inline std::string KelvDBLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace hopwell
