#include "shell/gui/QtFrontEnd.h"

#include <functional>
#include <future>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "GuiTestSupport.h"
#include "common/TempDir.h"
#include "intake/CommandIntake.h"
#include "resources/StringTable.h"
#include "shell/gui/JobListModel.h"
#include "shell/gui/JobListView.h"
#include "shell/gui/MainWindow.h"
#include "shell/gui/QtTranslations.h"

namespace hopwell {
namespace {

using testing::AnswerNextModal;
using testing::GuiApp;
using testing::WaitFor;

class QtFrontEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GuiApp();
    window_ = std::make_unique<MainWindow>();
    frontEnd_ = std::make_shared<QtFrontEnd>(window_.get());
    SetFrontEnd(frontEnd_);
  }
  void TearDown() override { SetFrontEnd(nullptr); }
  std::unique_ptr<MainWindow> window_;
  std::shared_ptr<QtFrontEnd> frontEnd_;
};

TEST_F(QtFrontEndTest, SubmittedJobsReachTheListAndTheDump) {
  testing::TempDir dir;
  frontEnd_->SetJobDumpPath(dir / "jobs.txt");
  const std::size_t before = JobRegistry().size();
  SubmitCommand("kelv:nosuchcommand");
  EXPECT_EQ(window_->JobList()->jobModel()->JobAt(0)->CommandString(), "kelv:nosuchcommand");
  ASSERT_TRUE(WaitFor([&] {
    return boost::filesystem::exists(dir / "jobs.txt") &&
           testing::ReadFile(dir / "jobs.txt").find("Can't handle kelv:nosuchcommand.") !=
               std::string::npos;
  }));
  const std::string dump = testing::ReadFile(dir / "jobs.txt");
  EXPECT_EQ(static_cast<std::size_t>(std::count(dump.begin(), dump.end(), '\n')), before + 1);

  // A change on a command thread is written too.
  JobPtr job = JobRegistry().back();
  std::thread([job] { job->AddMessage("changed elsewhere"); }).join();
  EXPECT_TRUE(WaitFor([&] {
    return testing::ReadFile(dir / "jobs.txt").find("changed elsewhere") != std::string::npos;
  }));
}

TEST_F(QtFrontEndTest, ProxyQuestionFromACommandThread) {
  AnswerNextModal([](QWidget* modal) {
    modal->findChild<QLineEdit*>(QStringLiteral("proxyUser"))->setText(QStringLiteral("anna"));
    modal->findChild<QLineEdit*>(QStringLiteral("proxyPassword"))
        ->setText(QStringLiteral("s3cret"));
    modal->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
  });
  ProxyCredentials credentials;
  auto answer = std::async(std::launch::async, [&] {
    return frontEnd_->AskProxyCredentials("https://127.0.0.1:18443/x", credentials);
  });
  // The interface thread keeps running while the command thread waits.
  ASSERT_TRUE(WaitFor(
      [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(answer.get(), ProxyAnswer::Retry);
  EXPECT_EQ(credentials.user, "anna");
  EXPECT_EQ(credentials.password, "s3cret");

  AnswerNextModal([](QWidget* modal) {
    modal->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
  });
  ProxyCredentials untouched;
  EXPECT_EQ(frontEnd_->AskProxyCredentials("https://127.0.0.1:18443/x", untouched),
            ProxyAnswer::Cancelled);
  EXPECT_TRUE(untouched.user.empty());
}

TEST_F(QtFrontEndTest, ConfirmQuitFromAnotherThreadRunsOnTheInterfaceThread) {
  AnswerNextModal([](QWidget* modal) {
    EXPECT_EQ(modal->thread(), qApp->thread());
    modal->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
  });
  auto answer = std::async(std::launch::async, [&] { return frontEnd_->ConfirmQuit(); });
  ASSERT_TRUE(WaitFor(
      [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_TRUE(answer.get()) << "Cancel means quit";
}

// Help > Open Local Storage and Kelvory Support with no program to open them (none on PATH;
// the offscreen platform opens nothing at all): the user is told instead of left waiting.
TEST_F(QtFrontEndTest, SaysSoWhenNoFileManagerOrBrowserStarts) {
  testing::TempDir dir;
  testing::ScopedEnv path("PATH", (dir / "empty").string());
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { frontEnd_->ExploreFolder(dir.path()); },
       "No file manager could be started to show the folder " + dir.path().string()},
      {[&] { frontEnd_->OpenUrl("https://support.kelvory.com/using-kelvory"); },
       "No web browser could be started to open https://support.kelvory.com/using-kelvory"},
  };
  for (const auto& [open, expected] : cases) {
    QString text;
    AnswerNextModal([&](QWidget* modal) {
      text = static_cast<QMessageBox*>(modal)->text();
      modal->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    });
    open();
    ASSERT_TRUE(WaitFor([&] { return !text.isEmpty(); })) << expected;
    EXPECT_EQ(text.toStdString(), expected);
  }
}

TEST_F(QtFrontEndTest, SwedishQuitQuestionAndItsButtonsSpeakTheSameLanguage) {
  SetStringLocale(StringLocale::Swedish);
  QTranslator* translator = LoadQtTranslations(*qApp, StringLocale::Swedish);
  ASSERT_NE(translator, nullptr) << "Qt's Swedish catalogue (qt6-translations-l10n)";
  QString text, cancel;
  AnswerNextModal([&](QWidget* modal) {
    text = static_cast<QMessageBox*>(modal)->text();
    auto* button = modal->findChild<QPushButton*>(QStringLiteral("cancelButton"));
    cancel = button->text().remove(QLatin1Char('&'));
    button->click();
  });
  frontEnd_->ConfirmQuit();
  QCoreApplication::removeTranslator(translator);
  delete translator;
  SetStringLocale(std::nullopt);
  EXPECT_TRUE(text.contains(QStringLiteral("Avbryt"))) << text.toStdString();
  EXPECT_EQ(cancel, QStringLiteral("Avbryt"));
  EXPECT_EQ(LoadQtTranslations(*qApp, StringLocale::English), nullptr);
}

}  // namespace
}  // namespace hopwell
