#include "storage/KelvDBWriter.h"

#include <cstring>

#include <fmt/format.h>

namespace hopwell {
namespace {

constexpr std::string_view kComment = "; Created by KelvDB 0.5.2 for Hopwell";

// Appends text, writing each LF as CR LF when asked to.
void AppendText(std::string& out, std::string_view text, bool fileLineEnds) {
  if (!fileLineEnds) {
    out.append(text);
    return;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    const void* found = std::memchr(text.data() + start, '\n', text.size() - start);
    if (found == nullptr) {
      out.append(text.substr(start));
      return;
    }
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    out.append(text.substr(start, at - start));
    out.append("\r\n");
    start = at + 1;
  }
}

bool NameTakenByOther(const std::vector<std::string>& names, std::size_t self,
                      const std::string& name) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != self && names[i] == name) return true;
  }
  return false;
}

}  // namespace

std::string KelvDBWriter::NameUnnamedColumns(std::vector<std::string>& names) {
  std::string message;
  for (std::size_t column = 0; column < names.size(); ++column) {
    if (!names[column].empty()) continue;
    std::string candidate;
    for (unsigned long long n = 0;; ++n) {
      candidate = "GeneratedName" + std::to_string(n);
      if (!NameTakenByOther(names, column, KelvDBLower(candidate))) break;
    }
    names[column] = KelvDBLower(candidate);
    message += "Name not set for column: " + std::to_string(column) + "\nSetting it to " +
               candidate + "\n";
  }
  return message;
}

void KelvDBWriter::Write(const KelvDBContent& content, std::string& out, bool fileLineEnds) {
  const std::string_view lineEnd = fileLineEnds ? "\r\n" : "\n";
  // Every cell costs its content plus "c=<length>:" and a line end; a rough reservation
  // keeps large tables from reallocating many times.
  std::size_t estimate = 256;
  for (const auto& name : content.columnNames) estimate += name.size() + 1;
  for (const auto& column : content.columns) {
    for (const auto& cell : column) estimate += cell.size() + 10;
  }
  out.reserve(out.size() + estimate);

  out.append("KELVDBF-").append(fmt::format("{}", content.version)).append(lineEnd);
  out.append(kComment).append(lineEnd);
  out.append("m=");
  AppendText(out, content.mode, fileLineEnds);
  out.append(lineEnd).append("n=");
  AppendText(out, content.name, fileLineEnds);
  out.append(lineEnd)
      .append(fmt::format("s={},{}", content.columnNames.size(), content.rowCount))
      .append(lineEnd)
      .append("f=");
  for (std::size_t i = 0; i < content.columnNames.size(); ++i) {
    if (i > 0) out.push_back(',');
    AppendText(out, content.columnNames[i], fileLineEnds);
  }
  out.append(lineEnd).append("--").append(lineEnd);

  const std::size_t columnCount = content.columns.size();
  const std::size_t rowCount =
      content.rowCount > 0 ? static_cast<std::size_t>(content.rowCount) : 0;
  char length[32];
  for (std::size_t row = 0; row < rowCount; ++row) {
    for (std::size_t column = 0; column < columnCount; ++column) {
      const std::string& cell = content.columns[column][row];
      const auto result = fmt::format_to_n(length, sizeof length, "c={}:", cell.size());
      out.append(length, result.size);
      AppendText(out, cell, fileLineEnds);
      out.append(lineEnd);
    }
  }
}

}  // namespace hopwell
