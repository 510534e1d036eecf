#pragma once

namespace hopwell {

// Where the desktop shell sends the user for help. (The update feed is deployment data.)
inline constexpr const char* kSupportPageUrl =
    "https://support.kelvory.com/using-kelvory#using-kelvory";

}  // namespace hopwell
