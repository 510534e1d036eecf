#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace hopwell::testing {

// A parameterised case's name for test lists: letters and digits kept, every run of other
// characters one '_', so a case reads like its values ("1.8.0-beta" -> "1_8_0_beta").
inline std::string CaseName(std::string_view text) {
  std::string name;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      name += c;
    } else if (name.empty() || name.back() != '_') {
      name += '_';
    }
  }
  return name.empty() ? "empty" : name;
}

}  // namespace hopwell::testing
