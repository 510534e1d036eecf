#include "storage/SafePath.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace hopwell {
namespace {

using boost::filesystem::path;

TEST(SafePathTest, RefusesComponentsThatLeaveTheFolder) {
  for (const std::string& name : std::vector<std::string>{"", ".", "..", "/", "/etc", "a/b", "../x", std::string("a\0b", 3)}) {
    EXPECT_FALSE(IsSafeComponent(name)) << name;
    EXPECT_FALSE(JoinChecked("/base", name).has_value()) << name;
  }
  for (const std::string name : {"a", "a.indd", "..a", "a..", "...", "with space", "ünï"}) {
    EXPECT_TRUE(IsSafeComponent(name)) << name;
    EXPECT_EQ(JoinChecked("/base", name), path("/base") / name);
  }
}

TEST(SafePathTest, RelativeNamesCheckEveryComponent) {
  EXPECT_EQ(JoinRelativeChecked("/base", "a/b/c.txt"), path("/base/a/b/c.txt"));
  EXPECT_EQ(JoinRelativeChecked("/base", "a\\b.txt"), path("/base/a/b.txt"));
  for (const std::string& name : std::vector<std::string>{"", "/abs", "\\abs", "a/../../x", "../x", "a/./b", "a//b", "C:/x", "C:\\x", "a/b/",
        "a\\..\\..\\x", std::string("a/\0/b", 5), "a:stream"}) {
    EXPECT_FALSE(JoinRelativeChecked("/base", name).has_value()) << name;
  }
}

}  // namespace
}  // namespace hopwell
