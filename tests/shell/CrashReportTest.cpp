#include "shell/CrashReport.h"

#include <gtest/gtest.h>

namespace hopwell {
namespace {

TEST(CrashReportTest, MessageForEachOutcomeOfTheRecord) {
  const boost::filesystem::path folder = "/tmp/A&B \"x\"/Kelv/Hopwell";
  const boost::filesystem::path record = folder / "Hopwell_20260314_092653.dmp";
  struct Case {
    const char* status;
    const char* expected;
  };
  const Case cases[] = {
      {"ok",
       "Kelvory Hopwell encountered a problem and had to quit.\n\nPlease send the folder "
       "'/tmp/A&B \"x\"/Kelv/Hopwell' to help@example.org."},
      {"write:28",
       "Kelvory Hopwell encountered a problem and had to quit (28).\n\nPlease send the folder "
       "'/tmp/A&B \"x\"/Kelv/Hopwell' to help@example.org."},
      {"create:13",
       "Failed to create dump file '/tmp/A&B \"x\"/Kelv/Hopwell/Hopwell_20260314_092653.dmp' "
       "(error 13)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CrashMessage(folder, record, c.status, "help@example.org"), c.expected) << c.status;
  }
}

TEST(CrashReportTest, RecordAddressesMapToTheirFiles) {
  const std::string record =
      "Kelvory Hopwell crash record\nSignal: 11 (SIGSEGV)\nReturn addresses:\n0x1234\n"
      "0x7f0000001010\nMemory map:\n"
      "7f0000000000-7f0000001000 r--p 00000000 08:01 42 /proc/self/exe\n"
      "7f0000001000-7f0000002000 r-xp 00001000 08:01 42 /proc/self/exe\n"
      "7ffd00000000-7ffd00001000 rw-p 00000000 00:00 0 [stack]\n"
      "Backtrace:\n#0 0x1234 ??\n";
  const CrashRecordContents contents = ParseCrashRecord(record);
  ASSERT_EQ(contents.returnAddresses, (std::vector<std::uintptr_t>{0x1234, 0x7f0000001010}));
  ASSERT_EQ(contents.regions.size(), 3u);
  EXPECT_EQ(contents.regions[2].path, "[stack]");

  // The test program is position-independent: addresses count from its first mapping.
  const auto inFile = LocateAddress(0x7f0000001010, contents.regions);
  ASSERT_TRUE(inFile);
  EXPECT_EQ(inFile->file, "/proc/self/exe");
  EXPECT_EQ(inFile->address, 0x1010u);
  EXPECT_FALSE(LocateAddress(0x1234, contents.regions));
  EXPECT_FALSE(LocateAddress(0x7ffd00000010, contents.regions));
}

}  // namespace
}  // namespace hopwell
