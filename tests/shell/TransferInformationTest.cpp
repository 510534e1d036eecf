#include "shell/TransferInformation.h"

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "intake/JobStatus.h"

namespace hopwell {
namespace {

TEST(TransferInformationTest, InformationByStateAndKind) {
  struct Case {
    JobState state;
    ActionKind kind;
    const char* text;
  };
  const std::string failed = "There was following problems ";
  const std::string done = "The chapter document was ";
  const std::vector<Case> cases = {
      {JobState::Failed, ActionKind::Download, "downloading and opening the chapter document:"},
      {JobState::Failed, ActionKind::Upload, "uploading the chapter to the Kelvory server:"},
      {JobState::Failed, ActionKind::Verify, "verifying Kelvory Hopwell"},
      {JobState::Failed, ActionKind::Unknown, "with unknown command"},
      {JobState::Failed, ActionKind::Install, "with unknown command"},
      {JobState::Failed, ActionKind::EsefDownload, "with unknown command"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TransferInformationText(static_cast<int>(c.state), static_cast<int>(c.kind)),
              failed + c.text);
  }
  EXPECT_EQ(TransferInformationText(3, 1), done + "downloaded and opened successfully.");
  EXPECT_EQ(TransferInformationText(3, 2), done + "uploaded successfully to the Kelvory server.");
  EXPECT_EQ(TransferInformationText(3, 4),
            "The Kelvory Hopwell installation was verified successfully");
  EXPECT_EQ(TransferInformationText(3, 3), done);
  EXPECT_EQ(TransferInformationText(3, 0), done);
  for (int kind = 0; kind <= 5; ++kind) {
    EXPECT_EQ(TransferInformationText(4, kind),
              "Cancelled: the job was stopped before it finished.");
    EXPECT_EQ(TransferInformationText(0, kind), "");
    EXPECT_EQ(TransferInformationText(1, kind), "");
    EXPECT_EQ(TransferInformationText(9, kind), "");
  }
}

TEST(TransferInformationTest, NameLabelAndValueByKind) {
  JobStatus download(ActionKind::Download, "", "");
  download.SetDocumentName("Kapitel \xc3\xa5\xc3\xa4\xc3\xb6");
  download.SetUploadName("not shown");
  TransferInformation info = ReadTransferInformation(download);
  EXPECT_EQ(info.nameLabel, "Chapter name: ");
  EXPECT_EQ(info.nameValue, "Kapitel \xc3\xa5\xc3\xa4\xc3\xb6");

  JobStatus upload(ActionKind::Upload, "", "");
  upload.SetDocumentName("not shown");
  upload.SetUploadName("chapter.indd");
  info = ReadTransferInformation(upload);
  EXPECT_EQ(info.nameLabel, "Document: ");
  EXPECT_EQ(info.nameValue, "chapter.indd");

  JobStatus verify(ActionKind::Verify, "", "");
  verify.SetDocumentName("ignored");
  info = ReadTransferInformation(verify);
  EXPECT_EQ(info.nameLabel, "Verifying");
  EXPECT_EQ(info.nameValue, "");

  for (ActionKind kind : {ActionKind::Unknown, ActionKind::Install, ActionKind::EsefDownload}) {
    JobStatus other(kind, "", "");
    other.SetDocumentName("ignored");
    info = ReadTransferInformation(other);
    EXPECT_EQ(info.nameLabel, "Chapter name:");
    EXPECT_EQ(info.nameValue, "");
  }
}

TEST(TransferInformationTest, DateAndMessage) {
  JobStatus job(ActionKind::Unknown, "", "kelv:");
  job.SetTime(boost::posix_time::time_from_string("2026-12-09 07:08:09"));
  job.JobFailed("The file kelv: does not exist.");
  const TransferInformation info = ReadTransferInformation(job);
  EXPECT_EQ(info.date, "2026-12-09 07:08:09");
  EXPECT_EQ(info.message, "The file kelv: does not exist.");
  EXPECT_EQ(info.information, "There was following problems with unknown command");

  JobStatus fresh(ActionKind::Verify, "", "kelv:test");
  EXPECT_EQ(ReadTransferInformation(fresh).date.size(), 19u);  // stamped on first read
  EXPECT_EQ(ReadTransferInformation(fresh).message, "");
}

}  // namespace
}  // namespace hopwell
