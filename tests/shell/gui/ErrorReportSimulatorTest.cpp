// The error report form end to end: the form as the user fills it, the ticket request over
// HTTPS to the platform simulator, and the answer the user sees.
#include <gtest/gtest.h>
#include <cstdlib>

#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <boost/filesystem/operations.hpp>

#include "GuiTestSupport.h"
#include "ViewsTestSupport.h"
#include "common/SimulatorProcess.h"
#include "common/TempDir.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/Dialogs.h"
#include "storage/LocalFolders.h"
#include "support/UserPreferences.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;
namespace names = dialog_names;
using testing::Click;
using testing::DialogScript;
using testing::GuiApp;
using testing::SimulatorProcess;
using testing::WriteFile;

class ErrorReportSimulatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new SimulatorProcess;
    sim_->Start(&startError_);  // waits while another test's simulator has the ports
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    GuiApp();
    ASSERT_TRUE(sim_->IsRunning()) << startError_;
    ASSERT_TRUE(sim_->Reset());
    ASSERT_TRUE(sim_->Control("/_sim/tickets")) << "the simulator has no support endpoint";
    for (const auto& entry : fs::directory_iterator(LogFolder())) fs::remove_all(entry.path());
    WriteFile(LogFolder() / "Hopwell_00012.log", "<info> Kelvory Hopwell version 1.7.1.0\n");
  }

  // Fills the form, presses Send; every message box is recorded ("text|owner") and
  // confirmed. `attempts` Sends at most, then Cancel if the form is still open.
  std::vector<std::string> Report(int attempts) {
    DialogScript script;
    std::vector<std::string> boxes;
    script.On(names::kErrorReport, [&](QDialog& form) {
      form.findChild<QLineEdit*>(names::kYourName)->setText(" Anna Berg ");
      form.findChild<QLineEdit*>(names::kYourEmail)->setText("anna@example.se");
      form.findChild<QPlainTextEdit*>(names::kComment)->setPlainText("Upload failed.");
      logShown_ = form.findChild<QLineEdit*>(names::kLogFile)->text().toStdString();
      for (int i = 0; i < attempts && form.isVisible(); ++i) Click(form, names::kSend);
      if (form.isVisible()) Click(form, names::kCancel);
    });
    script.On(names::kMessageBox, [&](QDialog& box) {
      boxes.push_back(static_cast<QMessageBox&>(box).text().toStdString() + "|" +
                      (box.parent() == nullptr ? "no owner" : "form"));
      Click(box, names::kOk);
    });
    ShowErrorReportDialog(nullptr);
    return boxes;
  }

  static SimulatorProcess* sim_;
  static std::string startError_;
  std::string logShown_;
};

SimulatorProcess* ErrorReportSimulatorTest::sim_ = nullptr;
std::string ErrorReportSimulatorTest::startError_;

TEST_F(ErrorReportSimulatorTest, TicketIsCreatedAndConfirmed) {
  const auto boxes = Report(1);
  EXPECT_EQ(boxes, (std::vector<std::string>{"New error ticket was created.|no owner"}));
  EXPECT_EQ(logShown_, (LogFolder() / "Hopwell_00012.log").string());

  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/api/v2/ext/support/message");
  EXPECT_EQ(requests[0].status, 200);
  EXPECT_EQ(requests[0].Header("X-API-Key").size(), 64u);

  // Name and address are remembered for the next report, also after a restart.
  UserPreferences reloaded(UserPreferences::Instance().Path());
  EXPECT_EQ(reloaded.Name(), "Anna Berg");
  EXPECT_EQ(reloaded.Email(), "anna@example.se");
}

TEST_F(ErrorReportSimulatorTest, RefusalKeepsTheFormOpenForAnotherTry) {
  ASSERT_TRUE(sim_->AddScenario(
      R"({"mode": "body", "body": "{\"status\": \"refused\"}", "path": "/api/v2/ext/support/message", "count": 1})"));
  const auto boxes = Report(2);
  EXPECT_EQ(boxes, (std::vector<std::string>{
                       "Could not create a new ticket. Please contact Kelvory support.|form",
                       "New error ticket was created.|no owner"}));
  EXPECT_EQ(sim_->Requests().size(), 2u);
}

}  // namespace
}  // namespace hopwell
