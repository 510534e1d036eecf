// The updater against the simulator's appcast over HTTPS, through the client's own HTTP
// helper (allow-list, identification parameters, the deployment's CA).
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "Deployment.h"
#include "common/SimulatorProcess.h"
#include "common/TempDir.h"
#include "shell/Updater.h"

namespace hopwell {
namespace {

using testing::SimulatorProcess;
using Outcome = UpdateCheckResult::Outcome;

class UpdateFeedSimulatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new SimulatorProcess;
    // Other test programs may hold the fixed ports for a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!sim_->Start(&startError_) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(sim_->IsRunning()) << startError_;
    ASSERT_TRUE(sim_->Reset());
  }
  Updater& Make() {
    updater_ = std::make_unique<Updater>(Updater::Fetcher{}, dir_ / "UpdateSettings.xml");
    updater_->SetCurrentVersion("1.7.1.0");
    return *updater_;
  }

  static SimulatorProcess* sim_;
  static std::string startError_;
  testing::TempDir dir_;
  std::unique_ptr<Updater> updater_;
};

SimulatorProcess* UpdateFeedSimulatorTest::sim_ = nullptr;
std::string UpdateFeedSimulatorTest::startError_;

TEST_F(UpdateFeedSimulatorTest, DeploymentFeedSaysUpToDate) {
  EXPECT_EQ(std::string(deployment::kAppcastUrl), sim_->HttpsUrl("/apps/hopwell/appcast.xml"));
  Updater& updater = Make();
  const UpdateCheckResult result = updater.CheckNow();
  EXPECT_EQ(result.outcome, Outcome::UpToDate) << result.error;
  EXPECT_NE(updater.GetLastCheckTime(), -1);
  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/apps/hopwell/appcast.xml");
  EXPECT_NE(requests[0].query.find("hwversion=1.7.1"), std::string::npos) << requests[0].query;
}

TEST_F(UpdateFeedSimulatorTest, NewerVersionIsOfferedWithItsDownload) {
  const std::string offer = R"({"version": "1.8.0.0", "short": "1.8.0"})";
  ASSERT_TRUE(sim_->Control("/_sim/appcast", &offer));
  const UpdateCheckResult result = Make().CheckNow();
  ASSERT_EQ(result.outcome, Outcome::UpdateAvailable) << result.error;
  EXPECT_EQ(result.item.version, "1.8.0.0");
  EXPECT_EQ(result.item.displayVersion, "1.8.0");
  EXPECT_EQ(result.item.downloadUrl, sim_->HttpsUrl("/apps/hopwell/hopwell-1.8.0.deb"));
}

TEST_F(UpdateFeedSimulatorTest, ServerErrorIsAFailedCheck) {
  ASSERT_TRUE(sim_->AddScenario(R"({"mode": "500", "path": "/apps/hopwell/appcast.xml"})"));
  Updater& updater = Make();
  const UpdateCheckResult result = updater.CheckNow();
  EXPECT_EQ(result.outcome, Outcome::Failed);
  EXPECT_NE(result.error.find("500"), std::string::npos) << result.error;
  EXPECT_EQ(updater.GetLastCheckTime(), -1);
}

TEST_F(UpdateFeedSimulatorTest, FeedOffTheAllowListIsNeverAsked) {
  Updater& updater = Make();
  updater.SetAppcastUrl("https://updates.example.invalid/apps/hopwell/appcast.xml");
  const UpdateCheckResult result = updater.CheckNow();
  EXPECT_EQ(result.outcome, Outcome::Failed);
  EXPECT_TRUE(sim_->Requests().empty());
}

}  // namespace
}  // namespace hopwell
