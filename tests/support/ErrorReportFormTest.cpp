#include "support/ErrorReportForm.h"

#include <gtest/gtest.h>

namespace hopwell {
namespace {

TEST(ErrorReportFormTest, ValidationTable) {
  struct Case {
    const char* name;
    const char* email;
    const char* expected;  // nullptr: accepted
  };
  const Case cases[] = {
      {"Anna", "a@b.c", nullptr},  // 5 characters with an at sign, no dot needed
      {"Anna", "ab@cd", nullptr},
      {"Anna", "a@bc", kEnterEmailText},    // 4 characters
      {"Anna", "a@b", kEnterEmailText},     // 3 characters
      {"Anna", "abcdef", kEnterEmailText},  // no at sign
      {"Anna", "", kEnterEmailText},
      {"Anna", "  a@b  ", kEnterEmailText},  // trimmed to 3
      {"", "a@b.c", kEnterNameText},
      {"   \t ", "a@b.c", kEnterNameText},  // blanks only
      {"", "", kEnterNameText},             // the name is checked first
      {" Anna ", " anna@example.se ", nullptr},
  };
  for (const Case& c : cases) {
    const auto problem = ValidateReportInput(TrimmedReportInput(c.name, c.email, ""));
    if (c.expected == nullptr) {
      EXPECT_FALSE(problem.has_value()) << c.name << "|" << c.email << ": " << *problem;
    } else {
      ASSERT_TRUE(problem.has_value()) << c.name << "|" << c.email;
      EXPECT_EQ(*problem, c.expected) << c.name << "|" << c.email;
    }
  }
}

TEST(ErrorReportFormTest, TrimmingKeepsInnerWhiteSpace) {
  const ErrorReportInput input =
      TrimmedReportInput("  Anna  Berg\n", "\ta@b.se ", "\n line 1\n line 2 \n");
  EXPECT_EQ(input.name, "Anna  Berg");
  EXPECT_EQ(input.email, "a@b.se");
  EXPECT_EQ(input.comment, "line 1\n line 2");
}

}  // namespace
}  // namespace hopwell
