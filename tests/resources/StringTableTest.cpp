#include "resources/StringTable.h"

#include <gtest/gtest.h>

#include "common/CaseName.h"
#include "common/TempDir.h"

namespace hopwell {
namespace {

using testing::ScopedEnv;

class StringTableTest : public ::testing::Test {
 protected:
  void TearDown() override { SetStringLocale(std::nullopt); }
};

TEST_F(StringTableTest, EnglishTextsAreTheShellsOwn) {
  SetStringLocale(StringLocale::English);
  EXPECT_EQ(LoadString(kIdsAppTitle), "Kelvory Hopwell (1.7.1)");
  EXPECT_EQ(LoadString(kIdsQuitCaption), "Let Kelvory Hopwell Finish");
  const std::string text = LoadString(kIdsQuitText);
  EXPECT_EQ(text.rfind("There are transfers in progress.\n\nIf you close Kelvory Hopwell", 0), 0u);
  EXPECT_NE(text.find("will not not be completed successfully\nand your changes"),
            std::string::npos);
  EXPECT_NE(text.find("\n\nTo let the transfers complete, click OK.\nOtherwise, click Cancel"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 21), "quit Kelvory Hopwell.");
  // The window title is bounded by 62 characters, the quit text by 4095.
  EXPECT_LE(LoadString(kIdsAppTitle).size(), 62u);
  EXPECT_LE(text.size(), 4095u);
}

TEST_F(StringTableTest, SwedishTableCoversTheTranslatedIds) {
  SetStringLocale(StringLocale::Swedish);
  for (int id : {kIdsAppTitle, kIdsAppClass, kIdsQuitCaption, kIdsQuitText}) {
    EXPECT_FALSE(LoadString(id).empty()) << id;
  }
  EXPECT_EQ(LoadString(kIdsAppTitle), "Kelvory Hopwell (1.7.1)");
  SetStringLocale(StringLocale::English);
  const std::string englishCaption = LoadString(kIdsQuitCaption);
  const std::string englishText = LoadString(kIdsQuitText);
  SetStringLocale(StringLocale::Swedish);
  EXPECT_NE(LoadString(kIdsQuitCaption), englishCaption);
  EXPECT_NE(LoadString(kIdsQuitText), englishText);
  EXPECT_LE(LoadString(kIdsQuitCaption).size(), 62u);
}

TEST_F(StringTableTest, UnknownIdIsEmptyInEveryLocale) {
  for (auto locale : {StringLocale::English, StringLocale::Swedish}) {
    SetStringLocale(locale);
    EXPECT_EQ(LoadString(4242), "");
    EXPECT_EQ(LoadString(-1), "");
  }
}

struct LocaleCase {
  const char* lcAll;
  const char* lcMessages;
  const char* lang;
  StringLocale expected;
};

class LocaleFromEnvironmentTest : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(LocaleFromEnvironmentTest, FirstNonEmptyVariableDecides) {
  const LocaleCase& c = GetParam();
  ScopedEnv all("LC_ALL", c.lcAll);
  ScopedEnv messages("LC_MESSAGES", c.lcMessages);
  ScopedEnv lang("LANG", c.lang);
  EXPECT_EQ(LocaleFromEnvironment(), c.expected);
  SetStringLocale(std::nullopt);
  EXPECT_EQ(LoadString(kIdsQuitCaption) == "Let Kelvory Hopwell Finish",
            c.expected == StringLocale::English);
}

INSTANTIATE_TEST_SUITE_P(Variables, LocaleFromEnvironmentTest,
                         ::testing::Values(LocaleCase{"", "", "sv_SE.UTF-8", StringLocale::Swedish},
                                           LocaleCase{"", "", "en_GB.UTF-8", StringLocale::English},
                                           LocaleCase{"", "", "", StringLocale::English},
                                           LocaleCase{"C", "", "sv_SE.UTF-8",
                                                      StringLocale::English},
                                           LocaleCase{"sv_FI", "", "en_US", StringLocale::Swedish},
                                           LocaleCase{"", "sv", "en_US", StringLocale::Swedish},
                                           LocaleCase{"", "de_DE", "sv_SE", StringLocale::English},
                                           LocaleCase{"", "", "s", StringLocale::English},
                                           LocaleCase{"", "", "SV_SE", StringLocale::English}),
                         [](const ::testing::TestParamInfo<LocaleCase>& info) {
                           const LocaleCase& c = info.param;
                           return testing::CaseName(std::string("all ") + c.lcAll + " messages " +
                                                    c.lcMessages + " lang " + c.lang);
                         });

}  // namespace
}  // namespace hopwell
