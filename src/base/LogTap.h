#pragma once

#include <string_view>

#include "base/Logging.h"

namespace hopwell {

// Hands every record, at every level, also to `tap`, on the thread that logs it and before
// the record reaches the file; null removes it. For tests, which look at what was logged.
using LogTap = void (*)(Severity level, std::string_view message);
void SetLogTap(LogTap tap);

}  // namespace hopwell
