#include "commands/save/SaveRequest.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TempDir.h"

namespace hopwell {
namespace {

using testing::TempDir;
using testing::WriteFile;

// A request in the current format around the given scalar elements and file list.
std::string CurrentRequest(const std::string& scalars, const std::string& archives) {
  return "<?xml version=\"1.0\"?>\n<SaveToServer version=\"2\">" + scalars + "<UploadFilesList>" +
         archives + "</UploadFilesList></SaveToServer>";
}

std::string FileElement(const std::string& type, const std::string& name,
                        const boost::filesystem::path& local, const std::string& size) {
  return "<File Type=\"" + type + "\" Name=\"" + name + "\" Path=\"" + local.string() +
         "\" Size=\"" + size + "\"/>";
}

// A table in the KelvDB text form, written out by hand as the plug-in embeds it.
std::string Table(const std::vector<std::string>& columns,
                  const std::vector<std::vector<std::string>>& rows) {
  std::string text = "KELVDBF-1\nm=normal\nn=\ns=" + std::to_string(columns.size()) + "," +
                     std::to_string(rows.size()) + "\nf=";
  for (std::size_t i = 0; i < columns.size(); ++i) text += (i ? "," : "") + columns[i];
  text += "\n--\n";
  for (const auto& row : rows) {
    for (const std::string& cell : row)
      text += "c=" + std::to_string(cell.size()) + ":" + cell + "\n";
  }
  return text;
}

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '&')
      out += "&amp;";
    else
      out += c;
  }
  return out;
}

class SaveRequestTest : public ::testing::Test {
 protected:
  SaveRequestTest() {
    WriteFile(dir_ / "doc.indd", "indd");
    WriteFile(dir_ / "doc.pdf", "pdf");
  }
  bool Read(const std::string& text) {
    WriteFile(dir_ / "cgu_7.xml", text);
    return ReadSaveRequest(dir_ / "cgu_7.xml", request_);
  }
  TempDir dir_;
  SaveRequest request_;
};

TEST_F(SaveRequestTest, CurrentFormatReadsScalarsAndArchivesInOrder) {
  ASSERT_TRUE(Read(CurrentRequest(
      "<IDS>space</IDS><TPVID>12</TPVID><COMMID>3</COMMID><Token>tok</Token>"
      "<URL>http://127.0.0.1:18080</URL><AppVersion>21.0</AppVersion><Comment>c</Comment>"
      "<CommentOption>o</CommentOption><PlugInList>p</PlugInList>"
      "<WorkingFolderName>wf</WorkingFolderName>"
      "<token>older</token><CU_CVC_TEXT>older</CU_CVC_TEXT>",
      "<Archive>" + FileElement("INDD", "doc.indd", dir_ / "doc.indd", "4") +
          FileElement("PDF", "Links/doc.pdf", dir_ / "doc.pdf", "+3") + "</Archive>" +
          "<Archive/><Other/><Archive>" + FileElement("PDF", "b.pdf", dir_ / "doc.pdf", "3") +
          "</Archive>")));
  const SaveRequest& r = request_;
  EXPECT_TRUE(r.isCurrentFormat);
  EXPECT_EQ(r.ids, "space");
  EXPECT_EQ(r.tpvid, 12);
  EXPECT_EQ(r.commid, 3);
  EXPECT_EQ(r.token, "tok");
  EXPECT_EQ(r.platformUrl, "http://127.0.0.1:18080");
  EXPECT_EQ(r.appVersion, "21.0");
  EXPECT_EQ(r.comment, "c");
  EXPECT_EQ(r.commentOption, "o");
  EXPECT_EQ(r.pluginList, "p");
  EXPECT_EQ(r.workingFolderName, "wf");
  ASSERT_EQ(r.archives.size(), 3u);
  ASSERT_EQ(r.archives[0].files.size(), 2u);
  EXPECT_TRUE(r.archives[1].files.empty());
  ASSERT_EQ(r.archives[2].files.size(), 1u);
  const UploadFile& pdf = r.archives[0].files[1];
  EXPECT_EQ(pdf.type, "PDF");
  EXPECT_EQ(pdf.name, "Links/doc.pdf");
  EXPECT_EQ(pdf.localPath, (dir_ / "doc.pdf").string());
  EXPECT_EQ(pdf.size, 3u);
  EXPECT_EQ(r.archives[2].files[0].name, "b.pdf");
}

TEST_F(SaveRequestTest, IntegersFollowTheXmlLibrarysReading) {
  const std::vector<std::pair<std::string, int>> cases = {{"<TPVID>42ab</TPVID>", 42},
                                                          {"<TPVID>ab42</TPVID>", 0},
                                                          {"<TPVID> -7</TPVID>", -7},
                                                          {"<TPVID>0x1F</TPVID>", 31},
                                                          {"", 0}};
  for (const auto& [element, expected] : cases) {
    ASSERT_TRUE(Read(CurrentRequest(element, ""))) << element;
    EXPECT_EQ(request_.tpvid, expected) << element;
  }
}

TEST_F(SaveRequestTest, UnreadableRequestsFail) {
  const std::vector<std::string> cases = {
      "not xml <<<",
      CurrentRequest(
          "", "<Archive>" + FileElement("INDD", "a", dir_ / "gone.indd", "1") + "</Archive>"),
      CurrentRequest("",
                     "<Archive>" + FileElement("INDD", "a", dir_ / "doc.indd", "") + "</Archive>"),
      CurrentRequest(
          "", "<Archive>" + FileElement("INDD", "a", dir_ / "doc.indd", "12k") + "</Archive>"),
      CurrentRequest("", "<Archive>" + FileElement("INDD", "a", dir_ / "doc.indd", "99999999999") +
                             "</Archive>"),
  };
  for (const std::string& text : cases) EXPECT_FALSE(Read(text)) << text;
  EXPECT_FALSE(ReadSaveRequest(dir_ / "missing.xml", request_));
}

TEST_F(SaveRequestTest, OlderFormatReadsEmbeddedTables) {
  const std::string files = Table({"FILEPATH", "ARCHIVEPATH", "type_key", "size"},
                                  {{(dir_ / "doc.indd").string(), "doc.indd", "INDD", "4"},
                                   {(dir_ / "doc.pdf").string(), "doc.pdf", "PDF", "3"}});
  const std::string archives = Table({"FILES"}, {{files}, {"not a table"}});
  ASSERT_TRUE(
      Read("<Request version=\"\"><IDS>s</IDS><TPVID>9</TPVID><token>t</token>"
           "<APPVERSION>16.0</APPVERSION><CU_CVC_TEXT>c</CU_CVC_TEXT>"
           "<CU_CVC_OPTIONS>o</CU_CVC_OPTIONS><PLUGINLIST>p</PLUGINLIST>"
           "<WorkingFolderName>ignored</WorkingFolderName><CU_ARCHIVES>" +
           XmlEscaped(archives) + "</CU_ARCHIVES></Request>"));
  EXPECT_FALSE(request_.isCurrentFormat);
  EXPECT_EQ(request_.token, "t");
  EXPECT_EQ(request_.appVersion, "16.0");
  EXPECT_EQ(request_.comment, "c");
  EXPECT_EQ(request_.commentOption, "o");
  EXPECT_EQ(request_.pluginList, "p");
  EXPECT_EQ(request_.workingFolderName, "");
  ASSERT_EQ(request_.archives.size(), 2u);
  ASSERT_EQ(request_.archives[0].files.size(), 2u);
  EXPECT_EQ(request_.archives[0].files[1].localPath, (dir_ / "doc.pdf").string());
  EXPECT_EQ(request_.archives[0].files[1].name, "doc.pdf");
  EXPECT_EQ(request_.archives[0].files[1].type, "PDF");
  EXPECT_EQ(request_.archives[0].files[1].size, 3u);
  EXPECT_TRUE(request_.archives[1].files.empty());

  // A table listing a missing file makes the request unreadable; an unreadable one is empty.
  const std::string missing =
      Table({"FILES"}, {{Table({"FILEPATH", "ARCHIVEPATH", "type_key", "size"},
                               {{(dir_ / "gone").string(), "gone", "PDF", "1"}})}});
  EXPECT_FALSE(Read("<R><CU_ARCHIVES>" + XmlEscaped(missing) + "</CU_ARCHIVES></R>"));
  ASSERT_TRUE(Read("<R><CU_ARCHIVES>garbage</CU_ARCHIVES></R>"));
  EXPECT_TRUE(request_.archives.empty());
}

TEST(UploadedDocumentNameTest, IndddEndsItsArchivePdfOfLaterArchiveWins) {
  auto file = [](const char* type, const char* path) { return UploadFile{type, "", path, 0}; };
  const std::vector<std::pair<std::vector<std::vector<UploadFile>>, std::string>> cases = {
      {{{file("INDD", "/w/doc.indd"), file("PDF", "/w/late.pdf")}}, "doc"},
      {{{file("PDF", "/w/first.pdf"), file("INDD", "/w/doc.indd")}}, "doc"},
      {{{file("INDD", "/w/doc.indd")}, {file("PDF", "/w/later.pdf")}}, "later"},
      {{{file("pdf", "/w/x.pdf"), file("IDML", "/w/y.idml")}}, ""},
      {{{file("PDF", "/w/noext")}}, "noext"},
  };
  for (const auto& [archives, expected] : cases) {
    SaveRequest request;
    for (const auto& files : archives) request.archives.push_back({"", {}, 0, "", files});
    EXPECT_EQ(UploadedDocumentName(request), expected);
  }
}

TEST(CheckinJsonTest, MatchesThePropertyTreeWriterByteForByte) {
  SaveRequest request;
  request.pluginList = "";
  request.appVersion = "16.0";
  request.archives.push_back(
      {"cgu_7_0.zip",
       "/u/cgu_7_0.zip",
       1234,
       "1A2B3C",
       {{"INDD", "doc.indd", "/w/doc.indd", 4}, {"PDF", "Links/a \"b\".pdf", "/w/b.pdf", 0}}});
  request.archives.push_back({"cgu_7_1.zip", "/u/cgu_7_1.zip", 22, "0", {}});
  EXPECT_EQ(MakeCheckinJson(request), R"({
    "archives": [
        {
            "name": "cgu_7_0.zip",
            "size": "1234",
            "crc32": "1A2B3C",
            "files": [
                {
                    "typeKey": "INDD",
                    "archivepath": "doc.indd",
                    "size": "4"
                },
                {
                    "typeKey": "PDF",
                    "archivepath": "Links\/a \"b\".pdf",
                    "size": "0"
                }
            ]
        },
        {
            "name": "cgu_7_1.zip",
            "size": "22",
            "crc32": "0",
            "files": ""
        }
    ],
    "pluginlist": "",
    "appversion": "16.0",
    "chapterVersionComment": "",
    "chapterVersionCommentOptions": ""
}
)");
  EXPECT_EQ(MakeCheckinJson(SaveRequest{}), R"({
    "archives": "",
    "pluginlist": "",
    "appversion": "",
    "chapterVersionComment": "",
    "chapterVersionCommentOptions": ""
}
)");
}

}  // namespace
}  // namespace hopwell
