#include "intake/JobStatus.h"

#include <thread>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>
#include <gtest/gtest.h>

#include "common/LogCapture.h"

namespace hopwell {
namespace {

std::atomic<int> notifications{0};
void CountChange(JobStatus*) { ++notifications; }

struct DescriptionRow {
  JobState state;
  ActionKind kind;
  const char* expected;
};

TEST(JobStatusTest, DescriptionCoversEveryStateAndKind) {
  const DescriptionRow rows[] = {
      {JobState::Waiting, ActionKind::Download, "Waiting for download"},
      {JobState::Waiting, ActionKind::Upload, "Waiting to start upload"},
      {JobState::Waiting, ActionKind::Install, "Waiting to start installation"},
      {JobState::Waiting, ActionKind::Verify, "Verifying installation"},
      {JobState::Waiting, ActionKind::EsefDownload, "Waiting for download"},
      {JobState::Running, ActionKind::Download, "Downloading chapter Doc"},
      {JobState::Running, ActionKind::Upload, "Uploading document Up"},
      {JobState::Running, ActionKind::Install, "Installing..."},
      {JobState::Running, ActionKind::Verify, "Verifying installation"},
      {JobState::Running, ActionKind::EsefDownload, "Downloading ESEF Doc"},
      {JobState::Failed, ActionKind::Download, "Download of chapter Doc FAILED"},
      {JobState::Failed, ActionKind::Upload, "Upload of document Up FAILED"},
      {JobState::Failed, ActionKind::Install, "Installation FAILED"},
      {JobState::Failed, ActionKind::Verify, "Verifying installation FAILED"},
      {JobState::Failed, ActionKind::EsefDownload, "Download of ESEF Doc FAILED"},
      {JobState::Succeeded, ActionKind::Download, "Successfully downloaded chapter Doc"},
      {JobState::Succeeded, ActionKind::Upload, "Successfully uploaded document Up"},
      {JobState::Succeeded, ActionKind::Install, "Installation completed"},
      {JobState::Succeeded, ActionKind::Verify, "Installation verified successfully"},
      {JobState::Succeeded, ActionKind::EsefDownload, "Successfully downloaded ESEF Doc"},
      {JobState::Cancelled, ActionKind::Download, "Download of chapter Doc Cancelled"},
      {JobState::Cancelled, ActionKind::Upload, "Upload of document Up Cancelled"},
      {JobState::Cancelled, ActionKind::Install, "Installation Cancelled"},
      {JobState::Cancelled, ActionKind::Verify, "Verifying installation Cancelled"},
      {JobState::Cancelled, ActionKind::EsefDownload, "Download of ESEF Doc Cancelled"},
      {JobState::Cancelled, ActionKind::Unknown, "Cancelled"},
  };
  for (const DescriptionRow& row : rows) {
    JobStatus job(row.kind, "caption", "kelv:x");
    job.SetDocumentName("Doc");
    job.SetUploadName("Up");
    job.SetState(row.state);
    EXPECT_EQ(job.Description(), row.expected)
        << static_cast<int>(row.state) << "/" << static_cast<int>(row.kind);
  }
}

TEST(JobStatusTest, InvalidKindsAndStates) {
  for (int state = 0; state <= 3; ++state) {
    for (int kind : {0, 6, -1}) {
      JobStatus job(static_cast<ActionKind>(kind), "c", "s");
      job.SetState(static_cast<JobState>(state));
      EXPECT_EQ(job.Description(), "Invalid action kind");
    }
  }
  JobStatus job(ActionKind::Download, "c", "s");
  job.SetState(static_cast<JobState>(7));
  EXPECT_EQ(job.GetState(), static_cast<JobState>(7));
  EXPECT_EQ(job.Description(), "");
}

TEST(JobStatusTest, NewJobHasNoMessageAndWaits) {
  JobStatus job(ActionKind::EsefDownload, "Opening ESEF...", "kelv:esef:a:b");
  EXPECT_EQ(job.LastMessage(), "");
  EXPECT_EQ(job.GetState(), JobState::Waiting);
  EXPECT_EQ(job.GetProgress(), 0);
  EXPECT_EQ(job.Caption(), "Opening ESEF...");
  EXPECT_EQ(job.CommandString(), "kelv:esef:a:b");
}

TEST(JobStatusTest, JobFailedNotifiesTwiceAndLogs) {
  testing::LogCapture log;
  JobStatus job(ActionKind::Download, "c", "s");
  job.SetOnChange(&CountChange);
  notifications = 0;
  job.JobFailed("No network");
  EXPECT_EQ(job.GetState(), JobState::Failed);
  EXPECT_EQ(job.LastMessage(), "No network");
  EXPECT_EQ(notifications.load(), 2);
  EXPECT_TRUE(log.Has("warning", "  JobFailed No network"));

  job.JobFailed(boost::format("Unable to Locate %1%") % "InDesign");
  EXPECT_EQ(job.LastMessage(), "Unable to Locate InDesign");
  const char* text = "plain";
  job.AddMessage(text);
  EXPECT_EQ(job.Messages().size(), 3u);
}

TEST(JobStatusTest, EverySetterNotifiesGettersDoNot) {
  JobStatus job(ActionKind::Upload, "c", "s");
  job.SetOnChange(&CountChange);
  notifications = 0;
  job.SetState(JobState::Running);
  job.SetProgress(10);
  job.AddProgress(2.5);
  job.SetCaption("x");
  job.SetDocumentName("d");
  job.SetUploadName("u");
  job.AddMessage("m");
  job.SetTime(boost::posix_time::second_clock::local_time());
  EXPECT_EQ(notifications.load(), 8);
  (void)job.Description();
  (void)job.GetTime();
  (void)job.LastMessage();
  EXPECT_EQ(notifications.load(), 8);
  EXPECT_DOUBLE_EQ(job.GetProgress(), 12.5);
}

TEST(JobStatusTest, GetTimeStampsOnceAndKeepsIt) {
  JobStatus job(ActionKind::Download, "c", "s");
  const auto before = boost::posix_time::second_clock::local_time();
  const auto first = job.GetTime();
  EXPECT_FALSE(first.is_not_a_date_time());
  EXPECT_GE(first, before);
  EXPECT_EQ(first.time_of_day().fractional_seconds(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(job.GetTime(), first);
}

// A notifier that reads the job again must not deadlock: it runs outside every lock.
JobStatus* reentered = nullptr;
void ReadBack(JobStatus* job) {
  reentered = job;
  (void)job->Description();
  (void)job->GetProgress();
  (void)job->LastMessage();
}

TEST(JobStatusTest, NotifierMayReadTheJob) {
  JobStatus job(ActionKind::Download, "c", "s");
  job.SetOnChange(&ReadBack);
  job.SetProgress(1);
  job.JobFailed("x");
  job.AddProgress(1);
  EXPECT_EQ(reentered, &job);
}

TEST(JobStatusTest, ConcurrentProgressFromManyThreadsAddsUp) {
  auto job = std::make_shared<JobStatus>(ActionKind::Upload, "c", "s");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([job] {
      for (int i = 0; i < 1000; ++i) job->AddProgress(0.01);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_NEAR(job->GetProgress(), 40.0, 1e-6);
}

}  // namespace
}  // namespace hopwell
