#include "commands/open/OpenArgument.h"

#include <gtest/gtest.h>

namespace hopwell {
namespace {

TEST(OpenArgumentTest, AddressAndToken) {
  struct Case {
    const char* argument;
    bool valid;
    const char* url;
    const char* token;
  };
  const Case cases[] = {
      {"https://h.example/c/7:tok", true, "https://h.example/c/7", "tok"},
      {"https://h.example:8443/c/7:tok", true, "https://h.example:8443/c/7", "tok"},
      {"http://h:80:tok", true, "http://h:80", "tok"},
      {"https://h%2Fc%2fd:t%2F", true, "https://h/c/d", "t%2F"},
      {"https://h.example:84a3/c:tok", false, "", ""},
      {"https://h.example:/c:tok", false, "", ""},
      {"https://h.example/c/7", false, "", ""},
      {"https://h/c:x:y:z", false, "", ""},
      {"tok", false, "", ""},
      {"", false, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    const OpenArgument parsed = ParseArgument(c.argument);
    EXPECT_EQ(parsed.valid, c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(parsed.parameterUrl, c.url);
    EXPECT_EQ(parsed.token, c.token);
  }
}

}  // namespace
}  // namespace hopwell
