#pragma once

namespace hopwell {

// Where the desktop shell sends the user and where it looks for updates.
inline constexpr const char* kSupportPageUrl =
    "https://support.kelvory.com/using-kelvory#using-kelvory";
#ifdef HOPWELL_UPDATE_FEED_URL
inline constexpr const char* kUpdateFeedUrl = HOPWELL_UPDATE_FEED_URL;
#else
inline constexpr const char* kUpdateFeedUrl = "https://127.0.0.1:18443/apps/hopwell/appcast.xml";
#endif

}  // namespace hopwell
