#include "net/ResponseStatus.h"

#include <gtest/gtest.h>

namespace hopwell {
namespace {

TEST(ResponseStatusTest, OnlyTopLevelStatusOkCounts) {
  const std::pair<const char*, bool> cases[] = {
      {R"({"status":"ok"})", true},
      {R"({"message":"x","status":"ok"})", true},
      {R"({"status":"OK"})", false},
      {R"({"status":"error"})", false},
      {R"({"status":""})", false},
      {R"({})", false},
      {R"({"data":{"status":"ok"}})", false},
      {"", false},
      {"<html>404</html>", false},
      {R"({"status":"ok")", false},
      {"ok", false},
  };
  for (const auto& [body, ok] : cases) {
    SCOPED_TRACE(body);
    EXPECT_EQ(ResponseStatusIsOk(body), ok);
  }
}

}  // namespace
}  // namespace hopwell
