// libFuzzer target: the KelvDB reader on arbitrary bytes. Whatever loads must survive a
// write and a second read unchanged, and the table built on it must answer its operations.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "storage/KelvDB.h"
#include "storage/KelvDBReader.h"
#include "storage/KelvDBWriter.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  hopwell::KelvDBContent content;
  std::string error;
  if (hopwell::KelvDBReader::Read(text, content, error)) {
    std::string written;
    hopwell::KelvDBWriter::Write(content, written, false);
    hopwell::KelvDBContent again;
    if (!hopwell::KelvDBReader::Read(written, again, error) ||
        again.columnNames != content.columnNames || again.columns != content.columns ||
        again.rowCount != content.rowCount || again.name != content.name ||
        again.mode != content.mode) {
      std::abort();
    }
    // The file form (CR LF line ends) reads back the same as well.
    std::string fileText;
    hopwell::KelvDBWriter::Write(content, fileText, true);
    hopwell::KelvDBReader::FromFileText(fileText);
    if (!hopwell::KelvDBReader::Read(fileText, again, error) || again.columns != content.columns) {
      std::abort();
    }
  }

  hopwell::KelvDB table;
  if (table.loadFromString(text)) {
    std::vector<std::string> values;
    const auto rows = static_cast<std::uint32_t>(table.getRowCount());
    const auto columns = static_cast<std::uint32_t>(table.getColumnCount());
    for (std::uint32_t r = 0; r <= rows; ++r) table.getRow(r, values);
    for (std::uint32_t c = 0; c <= columns; ++c) table.getColumn(c, values);
    table.toString();
    table.getParameter("key");
    table.setParameter("key", "value");
    table.addEmptyRow();
    table.deleteRow(0);
    table.last();
    table.move(-1);
  }
  return 0;
}
