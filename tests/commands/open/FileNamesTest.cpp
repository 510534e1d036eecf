#include "commands/open/FileNames.h"

#include <gtest/gtest.h>

#include "commands/open/OpenStepsFixture.h"

namespace hopwell::testing {
namespace {

class FileNamesTest : public OpenStepsTest {};

TEST_F(FileNamesTest, SanitizeByApplicationVersion) {
  // name, version 20 result, version 21 result
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"Chapter 1_v3.indd", "ChapterX1_v3.indd", "Chapter 1_v3.indd"},
      {"a/b\\c:d*e?f\"g<h>i|j", "aXbXcXdXeXfXgXhXiXj", "a_b_c_d_e_f_g_h_i_j"},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       "GrXXe",
       "Gr\xC3\xBC\xC3\x9F"
       "e"},
      {"emoji\xF0\x9F\x98\x80.", "emojiXX.", "emoji\xF0\x9F\x98\x80."},
      {"bad\xFFutf8", "badXutf8", "bad\xFFutf8"},
      {"XYZxyz09_.", "XYZxyz09_.", "XYZxyz09_."},
  };
  for (const auto& [name, old, recent] : cases) {
    SCOPED_TRACE(name);
    SetParameters({{"appversion", "20.4"}});
    EXPECT_EQ(SanitizeFileName(*parameters_, name), old);
    SetParameters({{"appversion", "21.0"}});
    EXPECT_EQ(SanitizeFileName(*parameters_, name), recent);
  }
}

TEST_F(FileNamesTest, SaveFileNameCutsAtTheLastVersionSuffix) {
  const std::pair<std::string, std::string> cases[] = {
      {"/x/My_vacation_v12.indd", "My_vacation"},
      {"/x/plain.indd", "plain"},
      {"/x/two words_v1.indd", "two words"},
      {"/x/_v1.indd", ""},
  };
  SetParameters({{"appversion", "21"}});
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(MakeSaveFileName(*parameters_, path), expected) << path;
  }
  SetParameters({{"appversion", "8"}});
  EXPECT_EQ(MakeSaveFileName(*parameters_, "/x/two words_v1.indd"), "twoXwords");
}

}  // namespace
}  // namespace hopwell::testing
