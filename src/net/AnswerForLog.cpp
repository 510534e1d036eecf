#include "net/AnswerForLog.h"

#include <fmt/format.h>

namespace hopwell {

std::string AnswerForLog(std::string_view answer) {
  if (answer.size() <= kLoggedAnswerLimit) return std::string(answer);
  std::string text(answer.substr(0, kLoggedAnswerLimit));
  text += fmt::format("\n[... cut at {} of {} bytes]", kLoggedAnswerLimit, answer.size());
  return text;
}

}  // namespace hopwell
