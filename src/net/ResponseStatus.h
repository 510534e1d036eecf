#pragma once

#include <string>

namespace hopwell {

// True when the answer is a JSON document whose top-level member "status" has the text "ok".
// A missing member reads as an empty text; an answer that is not JSON is not "ok". Never
// throws.
[[nodiscard]] bool ResponseStatusIsOk(const std::string& body);

}  // namespace hopwell
