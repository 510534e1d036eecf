#include "shell/JobEndNotice.h"

#include <gtest/gtest.h>

#include "intake/JobStatus.h"

namespace hopwell {
namespace {

struct NoticeCase {
  const char* name;
  ActionKind kind;
  JobState state;
  std::vector<std::string> messages;
  JobEndNotice expected;
  std::string application = "";  // the one the open command handed the chapter to
};

class JobEndNoticeTest : public ::testing::TestWithParam<NoticeCase> {};

TEST_P(JobEndNoticeTest, SaysWhatFailedOrWhatComesNext) {
  const NoticeCase& c = GetParam();
  JobStatus job(c.kind, "caption", "kelv:x");
  job.SetDocumentName("Chapter 7");
  job.SetUploadName("ch7.indd");
  job.SetApplicationName(c.application);
  for (const std::string& message : c.messages) job.AddMessage(message);
  job.SetState(c.state);
  const JobEndNotice notice = MakeJobEndNotice(job);
  EXPECT_EQ(notice.summary, c.expected.summary);
  EXPECT_EQ(notice.body, c.expected.body);
}

const std::string kFolder = "/home/u/.cache/Kelv/brand/Chapter 7";

INSTANTIATE_TEST_SUITE_P(
    Jobs, JobEndNoticeTest,
    ::testing::Values(
        // A failure carries its error, the newest message, never an older progress line.
        NoticeCase{"FailedDownload",
                   ActionKind::Download,
                   JobState::Failed,
                   {"Downloading 152 kB of 308 kB, 4 seconds remaining", "Error downloading (x)"},
                   {"Download of chapter Chapter 7 FAILED", "Error downloading (x)"}},
        NoticeCase{"FailedIntake",
                   ActionKind::Unknown,
                   JobState::Failed,
                   {"Can't handle kelv:x."},
                   {"Invalid action kind", "Can't handle kelv:x."}},
        // Where the chapter went, from the document the open command launched.
        NoticeCase{
            "OpenedChapter",
            ActionKind::Download,
            JobState::Succeeded,
            {"Downloading files...", "Launching " + kFolder + "/ch7.indd"},
            {"Successfully downloaded chapter Chapter 7",
             "Chapter Chapter 7 is in " + kFolder + " and was opened in Adobe InDesign 2026."},
            "Adobe InDesign 2026"},
        NoticeCase{"OpenedWithoutLaunchLine",
                   ActionKind::Download,
                   JobState::Succeeded,
                   {"Launching "},
                   {"Successfully downloaded chapter Chapter 7",
                    "Chapter Chapter 7 was opened in the editing application."}},
        NoticeCase{"Saved",
                   ActionKind::Upload,
                   JobState::Succeeded,
                   {"Chapter was successfully checked in"},
                   {"Successfully uploaded document ch7.indd",
                    "Document ch7.indd is checked in on the Kelvory server."}},
        NoticeCase{"Installed",
                   ActionKind::Install,
                   JobState::Succeeded,
                   {"Installing..."},
                   {"Installation completed",
                    "The plug-ins are in place; the editing application loads them when it "
                    "starts."}},
        NoticeCase{"Verified",
                   ActionKind::Verify,
                   JobState::Succeeded,
                   {},
                   {"Installation verified successfully",
                    "The Kelvory server can be reached: chapters can be opened and saved."}},
        NoticeCase{"EsefOpened",
                   ActionKind::EsefDownload,
                   JobState::Succeeded,
                   {"Opening Q3 in the Kelvory XBRL Tagger"},
                   {"Successfully downloaded ESEF Chapter 7",
                    "The report was opened in the Kelvory XBRL Tagger."}},
        NoticeCase{"StillRunning",
                   ActionKind::Download,
                   JobState::Running,
                   {"Downloading"},
                   {"Downloading chapter Chapter 7", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hopwell
