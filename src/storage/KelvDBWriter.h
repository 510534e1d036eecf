#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "storage/KelvDBContent.h"

namespace hopwell {

// Serialises a table into the KelvDB text format.
class KelvDBWriter {
 public:
  // Names every column whose name is empty "generatedname<n>" (the first free n from 0).
  // Returns the message that tells which columns were named, empty when none was.
  static std::string NameUnnamedColumns(std::vector<std::string>& names);

  // Appends the text of content to out. With fileLineEnds every LF, including those inside
  // cells, is written as CR LF, as a text-mode file stream on Windows writes it.
  static void Write(const KelvDBContent& content, std::string& out, bool fileLineEnds);
};

}  // namespace hopwell
