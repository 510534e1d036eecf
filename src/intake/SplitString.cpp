#include "intake/SplitString.h"

namespace hopwell {

std::vector<std::string> SplitString(const std::string& text, const std::string& separators,
                                     std::size_t maxCount) {
  std::vector<std::string> result;
  std::size_t start = text.find_first_not_of(separators);
  std::size_t end = text.find_first_of(separators, start);
  while (start != std::string::npos || end != std::string::npos) {
    result.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = text.find_first_not_of(separators, end);
    end = text.find_first_of(separators, start);
    if (maxCount > 0 && result.size() == maxCount) {
      if (start != std::string::npos || end != std::string::npos) {
        result.push_back(text.substr(start));
      }
      break;
    }
  }
  return result;
}

}  // namespace hopwell
