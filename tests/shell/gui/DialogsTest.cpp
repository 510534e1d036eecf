#include "shell/gui/Dialogs.h"

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include <gtest/gtest.h>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include "GuiTestSupport.h"
#include "ViewsTestSupport.h"
#include "common/TempDir.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/ErrorReportDialog.h"
#include "storage/LocalFolders.h"
#include "support/UserPreferences.h"

namespace hopwell {
namespace {

using testing::Click;
using testing::DialogScript;
using testing::GuiApp;
using testing::LabelText;
using testing::RecordingFrontEnd;
using testing::TempDir;
using testing::WaitFor;
namespace names = dialog_names;

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GuiApp();
    frontEnd = std::make_shared<RecordingFrontEnd>();
    SetFrontEnd(frontEnd);
  }
  void TearDown() override { SetFrontEnd(nullptr); }

  std::shared_ptr<RecordingFrontEnd> frontEnd;
};

TEST_F(DialogsTest, AboutShowsVersionAndRevision) {
  DialogScript script;
  std::string title, version, revision;
  script.On(names::kAbout, [&](QDialog& dialog) {
    title = dialog.windowTitle().toStdString();
    version = LabelText(dialog, names::kVersionText);
    revision = LabelText(dialog, names::kRevisionText);
    Click(dialog, names::kOk);
  });
  ShowAboutDialog(nullptr);
  EXPECT_EQ(title, "About Kelvory Hopwell");
  EXPECT_EQ(version, "Kelvory Hopwell, Version 1.7.1");
  EXPECT_TRUE(std::regex_match(revision, std::regex("[0-9a-f]{40}"))) << revision;
}

// Message dialogs from command threads: each blocks its own thread only, and they are open
// at the same time.
TEST_F(DialogsTest, MessageDialogsFromThreadsBlockOnlyTheirThread) {
  DialogScript script;
  std::mutex lock;
  std::vector<QPointer<QDialog>> open;
  script.On(names::kMessage, [&](QDialog& dialog) {
    std::lock_guard guard(lock);
    open.push_back(&dialog);
  });
  std::atomic<int> returned{0};
  std::thread first([&] {
    RunMessageDialog("", "Close InDesign to install the plug-ins.");
    ++returned;
  });
  std::thread second([&] {
    RunMessageDialog("Plug-ins", "Second text");
    ++returned;
  });
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard guard(lock);
    return open.size() == 2;
  }));
  EXPECT_EQ(returned.load(), 0);

  QDialog* untitled = nullptr;
  QDialog* titled = nullptr;
  for (auto& dialog : open) {
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal()) << "the main window stays usable";
    EXPECT_TRUE(dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(dialog->parent(), nullptr);
    (dialog->windowTitle() == "Kelvory" ? untitled : titled) = dialog.data();
  }
  ASSERT_NE(untitled, nullptr);
  ASSERT_NE(titled, nullptr);
  EXPECT_EQ(titled->windowTitle(), "Plug-ins");
  EXPECT_EQ(LabelText(*untitled, names::kMessageText), "Close InDesign to install the plug-ins.");

  Click(*titled, names::kOk);
  ASSERT_TRUE(WaitFor([&] { return returned.load() == 1; }));
  WaitFor([] { return false; }, 100);
  EXPECT_EQ(returned.load(), 1) << "closing one dialog releases only its own thread";
  Click(*untitled, names::kOk);
  ASSERT_TRUE(WaitFor([&] { return returned.load() == 2; }));
  first.join();
  second.join();
  ASSERT_TRUE(WaitFor([&] {
    // Deferred deletions run only from an event loop; these waits are not one.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (auto& dialog : open) {
      if (!dialog.isNull()) return false;
    }
    return true;
  })) << "finished dialogs are deleted";
}

// With an owner window set, dialogs (those of command threads too) name it as their
// transient parent and keep their natural size, so a tiling compositor floats them.
TEST_F(DialogsTest, DialogsNameTheirOwnerAndKeepTheirSize) {
  QWidget owner;
  owner.show();
  SetDialogOwner(&owner);
  DialogScript script;
  std::vector<std::string> seen;
  for (const char* name : {names::kMessage, names::kAppMissing, names::kAbout}) {
    script.On(name, [&](QDialog& dialog) {
      seen.push_back(
          dialog.objectName().toStdString() +
          (dialog.windowHandle()->transientParent() == owner.windowHandle() ? " owned" : "") +
          (dialog.minimumSize() == dialog.maximumSize() ? " fixed" : ""));
      dialog.reject();
    });
  }
  std::atomic<bool> done{false};
  std::thread command([&] {
    RunMessageDialog("", "Close InDesign to install the plug-ins.");
    RunApplicationMissingDialog("These plug-ins require Adobe InDesign 2026.");
    done = true;
  });
  EXPECT_TRUE(WaitFor([&] { return done.load(); }));
  command.join();
  ShowAboutDialog(nullptr);
  SetDialogOwner(nullptr);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"MessageDialog owned fixed", "AppMissingDialog owned fixed",
                                      "AboutDialog owned fixed"}));
}

TEST_F(DialogsTest, MessageDialogOnTheInterfaceThreadRunsItsOwnLoop) {
  DialogScript script;
  std::string title;
  script.On(names::kMessage, [&](QDialog& dialog) {
    title = dialog.windowTitle().toStdString();
    dialog.reject();  // the window's close command
  });
  RunMessageDialog("", "text");
  EXPECT_EQ(title, "Kelvory");
}

TEST_F(DialogsTest, ApplicationMissingHelpOpensTheArticleAndStaysOpen) {
  DialogScript script;
  QPointer<QDialog> shown;
  script.On(names::kAppMissing, [&](QDialog& dialog) { shown = &dialog; });
  std::atomic<bool> returned{false};
  std::thread command([&] {
    RunApplicationMissingDialog("InDesign 2024 could not be found.");
    returned = true;
  });
  ASSERT_TRUE(WaitFor([&] { return !shown.isNull(); }));
  EXPECT_EQ(shown->windowTitle(), "The Application is Missing");
  EXPECT_EQ(LabelText(*shown, names::kMessageText), "InDesign 2024 could not be found.");
  EXPECT_TRUE(shown->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

  ASSERT_TRUE(Click(*shown, names::kHelp));
  ASSERT_EQ(frontEnd->Urls().size(), 1u);
  const std::string url = frontEnd->Urls()[0];
  EXPECT_EQ(url.rfind("https://", 0), 0u);
  EXPECT_NE(url.find("/failed-to-locate-the-application-the-application-is-missing-0"),
            std::string::npos);
  WaitFor([] { return false; }, 50);
  EXPECT_FALSE(returned.load());
  EXPECT_TRUE(shown->isVisible());

  ASSERT_TRUE(Click(*shown, names::kCancel));
  ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
  command.join();
}

class ErrorReportDialogTest : public DialogsTest {
 protected:
  TempDir dir;
  UserPreferences preferences{dir / "UserPreferences.xml"};
};

void Fill(QDialog& dialog, const char* name, const char* email, const char* comment) {
  dialog.findChild<QLineEdit*>(names::kYourName)->setText(name);
  dialog.findChild<QLineEdit*>(names::kYourEmail)->setText(email);
  dialog.findChild<QPlainTextEdit*>(names::kComment)->setPlainText(comment);
}

TEST_F(ErrorReportDialogTest, ValidationKeepsTheFormOpenAndSendsNothing) {
  int sent = 0;
  ErrorReportDialog dialog(
      nullptr, [&](const ErrorReportInput&) { return ++sent, true; }, &preferences);
  DialogScript script;
  std::vector<std::string> messages;
  script.On(names::kMessageBox, [&](QDialog& box) {
    messages.push_back(static_cast<QMessageBox&>(box).text().toStdString() + "|" +
                       box.windowTitle().toStdString());
    Click(box, names::kOk);
  });
  dialog.show();
  Fill(dialog, "   ", "anna@example.se", "");
  Click(dialog, names::kSend);
  Fill(dialog, "Anna", "a@bc", "");
  Click(dialog, names::kSend);
  Fill(dialog, "Anna", "anna.example.se", "");
  Click(dialog, names::kSend);
  EXPECT_EQ(messages,
            (std::vector<std::string>{"Please enter your name.|Kelvory Hopwell",
                                      "Please enter your email address.|Kelvory Hopwell",
                                      "Please enter your email address.|Kelvory Hopwell"}));
  EXPECT_EQ(sent, 0);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(dialog.TicketCreated());
}

TEST_F(ErrorReportDialogTest, RefusalShowsTheFailureAndAllowsAnotherTry) {
  std::vector<ErrorReportInput> inputs;
  bool accept = false;
  ErrorReportDialog dialog(
      nullptr,
      [&](const ErrorReportInput& input) {
        inputs.push_back(input);
        return accept;
      },
      &preferences);
  DialogScript script;
  std::vector<std::string> messages;
  script.On(names::kMessageBox, [&](QDialog& box) {
    messages.push_back(static_cast<QMessageBox&>(box).text().toStdString());
    EXPECT_EQ(box.parent(), &dialog) << "the failure is owned by the form";
    Click(box, names::kOk);
  });
  dialog.show();
  Fill(dialog, "  Anna Berg ", " anna@example.se\n", "\n It broke. \n");
  Click(dialog, names::kSend);
  EXPECT_EQ(
      messages,
      (std::vector<std::string>{"Could not create a new ticket. Please contact Kelvory support."}));
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(inputs.size(), 1u);
  EXPECT_EQ(inputs[0].name, "Anna Berg");
  EXPECT_EQ(inputs[0].email, "anna@example.se");
  EXPECT_EQ(inputs[0].comment, "It broke.");
  // Name and address were stored before sending, failure or not.
  EXPECT_EQ(UserPreferences(preferences.Path()).Email(), "anna@example.se");

  accept = true;
  Click(dialog, names::kSend);
  EXPECT_EQ(inputs.size(), 2u);
  EXPECT_TRUE(dialog.TicketCreated());
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(ErrorReportDialogTest, InterfaceKeepsServingEventsWhileTheTicketIsRequested) {
  std::atomic<bool> served{false};
  ErrorReportDialog dialog(
      nullptr,
      [&](const ErrorReportInput&) {
        // Answers only once the interface thread has run an event posted after the click.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!served && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return served.load();
      },
      &preferences);
  dialog.show();
  Fill(dialog, "Anna", "anna@example.se", "");
  QTimer::singleShot(0, [&] {
    served = true;
    EXPECT_FALSE(dialog.isEnabled()) << "no second Send while the first is out";
  });
  Click(dialog, names::kSend);
  EXPECT_TRUE(dialog.TicketCreated());
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(ErrorReportDialogTest, StoredDetailsArePrefilled) {
  preferences.SetName("Stored Name");
  preferences.SetEmail("stored@example.se");
  ErrorReportDialog dialog(
      nullptr, [](const ErrorReportInput&) { return false; }, &preferences);
  EXPECT_EQ(dialog.findChild<QLineEdit*>(names::kYourName)->text(), "Stored Name");
  EXPECT_EQ(dialog.findChild<QLineEdit*>(names::kYourEmail)->text(), "stored@example.se");
  EXPECT_EQ(dialog.windowTitle(), "Kelvory Hopwell Error Report");
  EXPECT_TRUE(dialog.findChild<QLineEdit*>(names::kLogFile)->isReadOnly());

  UserPreferences empty(dir / "other.xml");
  ErrorReportDialog fresh(
      nullptr, [](const ErrorReportInput&) { return false; }, &empty);
  // Without a stored name the system's name for the user is offered.
  EXPECT_FALSE(fresh.findChild<QLineEdit*>(names::kYourName)->text().isEmpty());
  EXPECT_TRUE(fresh.findChild<QLineEdit*>(names::kYourEmail)->text().isEmpty());
}

}  // namespace
}  // namespace hopwell

namespace hopwell {
namespace {

TEST_F(ErrorReportDialogTest, ShowOpensTheLogFileAsAValidUrl) {
  // The log folder follows TMPDIR; a name with a blank and a non-ASCII letter.
  testing::ScopedEnv tmp("TMPDIR", (dir / "a b \xc3\xbc").string());
  const boost::filesystem::path log = LogFolder() / "Hopwell_00001.log";
  testing::WriteFile(log, "log line\n");
  ErrorReportDialog dialog(
      nullptr, [](const ErrorReportInput&) { return false; }, &preferences);
  EXPECT_EQ(dialog.findChild<QLineEdit*>(names::kLogFile)->text().toStdString(), log.string());
  ASSERT_TRUE(Click(dialog, names::kShow));
  ASSERT_EQ(frontEnd->Urls().size(), 1u);
  const QUrl url(QString::fromStdString(frontEnd->Urls()[0]), QUrl::StrictMode);
  EXPECT_TRUE(url.isValid()) << frontEnd->Urls()[0];
  EXPECT_EQ(url.toLocalFile().toStdString(), log.string());
}

TEST_F(ErrorReportDialogTest, ShowIsOffWithoutALogFile) {
  testing::ScopedEnv tmp("TMPDIR", (dir / "empty").string());
  ErrorReportDialog dialog(
      nullptr, [](const ErrorReportInput&) { return false; }, &preferences);
  EXPECT_TRUE(dialog.findChild<QLineEdit*>(names::kLogFile)->text().isEmpty());
  EXPECT_FALSE(dialog.findChild<QPushButton*>(names::kShow)->isEnabled());
}

}  // namespace
}  // namespace hopwell
