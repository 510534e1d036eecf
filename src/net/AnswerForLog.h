#pragma once

#include <string>
#include <string_view>

namespace hopwell {

// The most of an answer's text a log line shows.
constexpr std::size_t kLoggedAnswerLimit = 64 * 1024;

// The answer as a log line shows it: whole up to kLoggedAnswerLimit bytes, else its first
// kLoggedAnswerLimit bytes and a note of its full size.
std::string AnswerForLog(std::string_view answer);

}  // namespace hopwell
