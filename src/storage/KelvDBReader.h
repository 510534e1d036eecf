#pragma once

#include <string>
#include <string_view>

#include "storage/KelvDBContent.h"

namespace hopwell {

// Parses the KelvDB text format: identification line, header, length-prefixed cells.
class KelvDBReader {
 public:
  // Fills content from text. On failure returns false with the reason in lastError; content
  // is then partial and must not be used. A successful read may still set lastError (a
  // repeated optional header key).
  [[nodiscard]] static bool Read(std::string_view text, KelvDBContent& content,
                                 std::string& lastError);

  // Turns the bytes of a file, in place, into what a text-mode stream reads: every CR LF
  // becomes LF.
  static void FromFileText(std::string& bytes);
};

}  // namespace hopwell
