#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hopwell {

// Splits text at runs of the separator characters; empty tokens never appear. With
// maxCount > 0, once maxCount tokens are found the untouched remainder (from the next
// non-separator on) becomes one more element.
std::vector<std::string> SplitString(const std::string& text, const std::string& separators,
                                     std::size_t maxCount);

}  // namespace hopwell
