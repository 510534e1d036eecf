#include "commands/open/FileDownloadInfo.h"

#include <sstream>

#include <gtest/gtest.h>

#include "intake/XmlCmdParametersBase.h"

namespace hopwell {
namespace {

std::vector<FileDownloadInfoPtr> FilesOf(const std::string& document) {
  std::istringstream in(document);
  XmlCmdParametersBase parameters(in);
  LogSource log;
  return GetFiles(parameters, log);
}

std::string WithFiles(const std::string& files) {
  return "<data><params/><files>" + files + "</files></data>";
}

TEST(FileDownloadInfoTest, ReadsEachEntryInOrder) {
  const auto files =
      FilesOf(WithFiles("<file><url>http://h/a</url><name>a.zip</name><decompress>true</decompress>"
                        "<size> 1234 </size></file>"
                        "<!-- comment --><other><name>b.txt</name><url>http://h/b</url></other>"));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0]->url, "http://h/a");
  EXPECT_EQ(files[0]->name, "a.zip");
  EXPECT_TRUE(files[0]->decompress);
  EXPECT_EQ(files[0]->size, 1234);
  EXPECT_EQ(files[1]->name, "b.txt");
  EXPECT_FALSE(files[1]->decompress);
  EXPECT_EQ(files[1]->size, 0);
}

TEST(FileDownloadInfoTest, OptionalValuesFallBack) {
  const std::tuple<const char*, bool, std::int32_t> cases[] = {
      {"<decompress>1</decompress><size>7</size>", true, 7},
      {"<decompress>0</decompress><size>-3</size>", false, -3},
      {"<decompress>false</decompress><size>12ab</size>", false, 0},
      {"<decompress>yes</decompress><size>99999999999</size>", false, 0},
      {"<decompress></decompress><size></size>", false, 0},
  };
  for (const auto& [extra, decompress, size] : cases) {
    SCOPED_TRACE(extra);
    const auto files =
        FilesOf(WithFiles(std::string("<f><url>u</url><name>n</name>") + extra + "</f>"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]->decompress, decompress);
    EXPECT_EQ(files[0]->size, size);
  }
}

TEST(FileDownloadInfoTest, IncompleteEntriesAndDocumentsGiveWhatTheyCan) {
  EXPECT_EQ(FilesOf(WithFiles("<f><url>u</url></f><f><name>n</name></f>"
                              "<f><url>u2</url><name>n2</name></f>"))
                .size(),
            1u);
  EXPECT_TRUE(FilesOf("<data><params/></data>").empty());
  EXPECT_TRUE(FilesOf("not xml").empty());
}

}  // namespace
}  // namespace hopwell
