#pragma once

#include <optional>
#include <string>

namespace hopwell {

// Ids of the client's string table. The shell loads its user-facing texts by these ids so
// that a translated table can stand in for the English one.
enum StringId : int {
  kIdsAppTitle = 103,     // the main window's title and the tray tip
  kIdsAppClass = 109,     // the application's short name (window class, desktop file)
  kIdsQuitCaption = 110,  // caption of the quit confirmation
  kIdsQuitText = 111,     // text of the quit confirmation
};

enum class StringLocale { English, Swedish };

// The text of `id` in the current locale's table; ids the translated table lacks fall back
// to English, unknown ids give the empty string.
std::string LoadString(int id);

// The locale the user's environment asks for: the first non-empty of LC_ALL, LC_MESSAGES
// and LANG decides; a value starting with "sv" picks Swedish, anything else English.
StringLocale LocaleFromEnvironment();

// Overrides the environment's choice (tests, screenshots); std::nullopt goes back to it.
void SetStringLocale(std::optional<StringLocale> locale);

}  // namespace hopwell
