#include "resources/StringTable.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <string_view>

#include "Version.h"

namespace hopwell {
namespace {

const std::map<int, std::string>& EnglishTable() {
  static const std::map<int, std::string> table = {
      {kIdsAppTitle, std::string("Kelvory Hopwell (") + kProductVersion + ")"},
      {kIdsAppClass, "HOPWELL"},
      {kIdsQuitCaption, "Let Kelvory Hopwell Finish"},
      {kIdsQuitText,
       "There are transfers in progress.\n\nIf you close Kelvory Hopwell at this point, the "
       "transfers will not not be completed successfully\nand your changes may not be saved "
       "correctly.\n\nTo let the transfers complete, click OK.\nOtherwise, click Cancel to "
       "abort any running transfers and quit Kelvory Hopwell."},
  };
  return table;
}

const std::map<int, std::string>& SwedishTable() {
  static const std::map<int, std::string> table = {
      {kIdsAppTitle, std::string("Kelvory Hopwell (") + kProductVersion + ")"},
      {kIdsAppClass, "HOPWELL"},
      {kIdsQuitCaption, "L\u00e5t Kelvory Hopwell bli klar"},
      {kIdsQuitText,
       "\u00d6verf\u00f6ringar p\u00e5g\u00e5r.\n\nOm du st\u00e4nger Kelvory Hopwell nu "
       "slutf\u00f6rs inte \u00f6verf\u00f6ringarna\noch dina \u00e4ndringar kanske inte "
       "sparas korrekt.\n\nKlicka p\u00e5 OK f\u00f6r att l\u00e5ta \u00f6verf\u00f6ringarna "
       "bli klara.\nKlicka annars p\u00e5 Avbryt f\u00f6r att avbryta p\u00e5g\u00e5ende "
       "\u00f6verf\u00f6ringar och avsluta Kelvory Hopwell."},
  };
  return table;
}

// -1: follow the environment; otherwise a StringLocale value.
std::atomic<int> overrideLocale{-1};

}  // namespace

StringLocale LocaleFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    return std::string_view(value).substr(0, 2) == "sv" ? StringLocale::Swedish
                                                        : StringLocale::English;
  }
  return StringLocale::English;
}

void SetStringLocale(std::optional<StringLocale> locale) {
  overrideLocale.store(locale ? static_cast<int>(*locale) : -1);
}

std::string LoadString(int id) {
  const int forced = overrideLocale.load();
  const StringLocale locale =
      forced >= 0 ? static_cast<StringLocale>(forced) : LocaleFromEnvironment();
  if (locale == StringLocale::Swedish) {
    const auto& swedish = SwedishTable();
    if (auto it = swedish.find(id); it != swedish.end()) return it->second;
  }
  const auto& english = EnglishTable();
  auto it = english.find(id);
  return it == english.end() ? std::string() : it->second;
}

}  // namespace hopwell
