#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "commands/esef/EsefCmd.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "storage/LocalFolders.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
using testing::LogCapture;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

struct FolderCase {
  std::vector<std::string> files;
  std::string document;  // empty: none found
  std::string mappingAfter;
};

class TaggerDocumentTest : public ::testing::Test {
 protected:
  EsefCmd Command(EsefCmd::TaggerLauncher launch = nullptr) {
    return EsefCmd("http://127.0.0.1:18080:tok", job_, nullptr, std::move(launch));
  }

  TempDir dir_;
  JobPtr job_ = std::make_shared<JobStatus>(ActionKind::EsefDownload, "Opening ESEF...", "");
};

TEST_F(TaggerDocumentTest, PdfBeforeEpubEndingsAreCaseSensitiveMappingMovesBeside) {
  const FolderCase cases[] = {
      {{"b.epub", "a.pdf", "x.etm"}, "a.pdf", "a.etm"},
      {{"b.epub", "m.pdf.mapping", "n.etm"}, "b.epub", "b.pdf.mapping"},
      {{"A.PDF", "c.Epub", "notes.txt"}, "", ""},
      {{"report.pdf"}, "report.pdf", ""},
      {{"report.pdf", "report.pdf.mapping"}, "report.pdf", "report.pdf.mapping"},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.document);
    const fs::path folder = dir_ / ("case" + std::to_string(&c - cases));
    for (const auto& name : c.files) WriteFile(folder / name, name);
    EsefCmd command = Command();
    const fs::path document = command.FindTaggerDocument(folder);
    EXPECT_EQ(document, c.document.empty() ? fs::path() : folder / c.document);
    if (document.empty()) continue;
    ASSERT_TRUE(command.RestoreMappings(document, folder));
    if (!c.mappingAfter.empty()) {
      EXPECT_TRUE(fs::exists(folder / c.mappingAfter));
    }
  }
}

TEST_F(TaggerDocumentTest, ReportNameFromTheFirstArchive) {
  const auto file = [](const std::string& name) {
    return std::make_shared<FileDownloadInfo>(FileDownloadInfo{"u", name, false, 0});
  };
  EXPECT_EQ(EsefCmd::ReportName({file("a.pdf"), file("Q3.zip"), file("Q4.zip")}), "Q3");
  EXPECT_EQ(EsefCmd::ReportName({file("a.pdf"), file("b.ZIP")}), "Chapter");
  EXPECT_EQ(EsefCmd::ReportName({file(".zip")}), "Chapter");
  EXPECT_EQ(EsefCmd::ReportName({}), "Chapter");
}

TEST_F(TaggerDocumentTest, LaunchNeedsTheProgramAndAStartAbove32) {
  ScopedEnv tmp("TMPDIR", dir_.path().string());
  const fs::path program = TaggerFolder() / "AMANA.XBRL.Tagger.Kelvory.exe";
  const fs::path document = dir_ / "my \"report\" & notes.pdf";
  std::vector<std::string> given;
  int answer = 42;
  EsefCmd command = Command([&](const fs::path&, const std::vector<std::string>& arguments) {
    given = arguments;
    return answer;
  });
  LogCapture log;
  EXPECT_FALSE(command.LaunchTagger(document));
  EXPECT_EQ(job_->LastMessage(),
            "The Kelvory XBRL Tagger is not installed, expected at \"" + program.string() + "\".");

  WriteFile(program, "#!/bin/sh\n");
  EXPECT_TRUE(command.LaunchTagger(document));
  const std::string quoted = "\"" + dir_.path().string() + "/my &\"report&\" && notes.pdf\"";
  EXPECT_EQ(given, std::vector<std::string>{"-DocumentName=" + quoted});

  answer = 32;
  EXPECT_FALSE(command.LaunchTagger(document));
  EXPECT_EQ(job_->LastMessage(), "Kelvory XBRL Tagger failed to start");
  EXPECT_TRUE(log.Has("warning", "    The Kelvory XBRL Tagger failed to start: 32"));
}

}  // namespace
}  // namespace hopwell
