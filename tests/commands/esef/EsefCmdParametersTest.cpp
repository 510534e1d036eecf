#include "commands/esef/EsefCmdParameters.h"

#include <gtest/gtest.h>

#include "common/LogCapture.h"

namespace hopwell {
namespace {

using testing::LogCapture;

struct ParseCase {
  std::string argument;
  bool parsed;
  std::string url;
  std::string token;
};

TEST(EsefCmdParametersTest, SplitsAtTheLastColon) {
  const ParseCase cases[] = {
      {"https://127.0.0.1:18443:abc123", true, "https://127.0.0.1:18443", "abc123"},
      {"http://host/report/7:tok", true, "http://host/report/7", "tok"},
      {"http://host:", true, "http://host", ""},
      {":token", true, "", "token"},
      {"no colon at all", false, "", ""},
      {"", false, "", ""},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.argument);
    LogCapture log;
    EsefCmdParameters parameters;
    EXPECT_EQ(parameters.Parse(c.argument), c.parsed);
    EXPECT_EQ(parameters.url, c.url);
    EXPECT_EQ(parameters.token, c.token);
    EXPECT_TRUE(log.Has("info", "    EsefCmdParameters::Parse " + c.argument));
    if (c.parsed) {
      EXPECT_TRUE(log.Has("info", "    EsefCmdParameters::Parse: success"));
      EXPECT_TRUE(log.Has("info", "      url:   " + c.url));
      EXPECT_TRUE(log.Has("info", "      token: " + c.token));
    } else {
      EXPECT_TRUE(log.Has(
          "warning",
          "    EsefCmdParameters::Parse failed to parse, could not locate ':' in " + c.argument));
    }
  }
}

}  // namespace
}  // namespace hopwell
