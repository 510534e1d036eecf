#include "shell/gui/JobListView.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QPlainTextEdit>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "GuiTestSupport.h"
#include "ViewsTestSupport.h"
#include "intake/JobStatus.h"
#include "shell/JobRowLayout.h"
#include "shell/gui/DialogNames.h"
#include "shell/gui/JobListModel.h"

namespace hopwell {
namespace {

using testing::Click;
using testing::DialogScript;
using testing::GuiApp;
using testing::LabelText;
using testing::WaitFor;
namespace names = dialog_names;

// Records every dataChanged span the model announces.
struct ChangeLog {
  explicit ChangeLog(JobListModel* model) {
    QObject::connect(model, &QAbstractItemModel::dataChanged,
                     [this](const QModelIndex& first, const QModelIndex& last) {
                       spans.emplace_back(first.row(), last.row());
                     });
  }
  std::vector<std::pair<int, int>> spans;
};

class JobListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GuiApp();
    view = std::make_unique<JobListView>();
    view->resize(485, 400);
    for (int i = 0; i < 3; ++i) {
      jobs.push_back(
          std::make_unique<JobStatus>(ActionKind::Download, "", "kelv:open:" + std::to_string(i)));
      jobs.back()->SetDocumentName("chapter " + std::to_string(i));
      view->AddJob(jobs.back().get());
    }
  }

  std::vector<std::unique_ptr<JobStatus>> jobs;
  std::unique_ptr<JobListView> view;
};

TEST_F(JobListViewTest, NewestJobIsTheTopRow) {
  JobListModel* model = view->jobModel();
  ASSERT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->JobAt(0), jobs[2].get());
  EXPECT_EQ(model->JobAt(2), jobs[0].get());
  EXPECT_EQ(model->RowOf(jobs[0].get()), 2);
  EXPECT_EQ(model->data(model->index(0), Qt::DisplayRole).toString(), "Waiting for download");
  view->AddJob(jobs[0].get());  // already listed: no second row
  EXPECT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->JobAt(3), nullptr);
  EXPECT_EQ(model->JobAt(-1), nullptr);
}

// Rows stay in arrival order: a job whose time is set later (open, save and install stamp
// their launch or end) or that ends keeps its row; a job that arrives with an older time
// still goes on top.
TEST_F(JobListViewTest, RowsKeepTheirArrivalOrder) {
  namespace pt = boost::posix_time;
  JobListModel* model = view->jobModel();
  int moves = 0;
  QObject::connect(model, &QAbstractItemModel::rowsMoved, [&] { ++moves; });
  ChangeLog log(model);
  const pt::ptime now = jobs[2]->GetTime();
  jobs[0]->SetTime(now + pt::minutes(1));
  jobs[0]->SetState(JobState::Succeeded);
  view->JobChanged(jobs[0].get());
  ASSERT_TRUE(WaitFor([&] { return !log.spans.empty(); }));
  EXPECT_EQ(log.spans, (std::vector<std::pair<int, int>>{{2, 2}}));

  jobs.push_back(std::make_unique<JobStatus>(ActionKind::Verify, "", "kelv:test"));
  jobs.back()->SetTime(now - pt::hours(1));
  view->AddJob(jobs.back().get());
  EXPECT_EQ(moves, 0);
  for (int row = 0; row < model->rowCount(); ++row) {
    EXPECT_EQ(model->JobAt(row), jobs[jobs.size() - 1 - static_cast<std::size_t>(row)].get());
  }
}

TEST_F(JobListViewTest, RowsAre56PixelsHigh) {
  view->show();
  ASSERT_TRUE(WaitFor([&] { return view->isVisible(); }));
  EXPECT_EQ(view->visualRect(view->jobModel()->index(0)).height(), kRowHeight);
  EXPECT_EQ(view->visualRect(view->jobModel()->index(1)).top(), kRowHeight);
}

TEST_F(JobListViewTest, ChangeOfTheOldestJobRedrawsTheBottomRow) {
  ChangeLog log(view->jobModel());
  view->JobChanged(jobs[0].get());
  ASSERT_TRUE(WaitFor([&] { return !log.spans.empty(); }));
  EXPECT_EQ(log.spans, (std::vector<std::pair<int, int>>{{2, 2}}));
}

TEST_F(JobListViewTest, UnknownJobsAreIgnored) {
  ChangeLog log(view->jobModel());
  JobStatus stranger(ActionKind::Verify, "", "kelv:test");
  view->JobChanged(&stranger);
  view->JobChanged(nullptr);
  view->JobChanged(jobs[1].get());
  ASSERT_TRUE(WaitFor([&] { return !log.spans.empty(); }));
  WaitFor([] { return false; }, 120);
  EXPECT_EQ(log.spans, (std::vector<std::pair<int, int>>{{1, 1}}));
}

TEST_F(JobListViewTest, BurstsFromCommandThreadsAreCoalesced) {
  ChangeLog log(view->jobModel());
  std::atomic<bool> go{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      JobStatus* job = jobs[t % 3].get();
      for (int i = 0; i < 2000; ++i) view->JobChanged(job);
    });
  }
  go.store(true);
  for (auto& writer : writers) writer.join();
  // Everything written before the user-interface thread looked is one redraw: rows 0 to 2
  // are adjacent, so a single span.
  ASSERT_TRUE(WaitFor([&] { return !log.spans.empty(); }));
  WaitFor([] { return false; }, 120);
  EXPECT_EQ(log.spans, (std::vector<std::pair<int, int>>{{0, 2}}));
  // A later change is not lost to the coalescing.
  view->JobChanged(jobs[2].get());
  ASSERT_TRUE(WaitFor([&] { return log.spans.size() == 2; }));
  EXPECT_EQ(log.spans.back(), (std::pair<int, int>{0, 0}));
}

TEST_F(JobListViewTest, NonAdjacentRowsGetTheirOwnSpans) {
  ChangeLog log(view->jobModel());
  view->JobChanged(jobs[0].get());
  view->JobChanged(jobs[2].get());
  ASSERT_TRUE(WaitFor([&] { return log.spans.size() >= 2; }));
  EXPECT_EQ(log.spans, (std::vector<std::pair<int, int>>{{0, 0}, {2, 2}}));
}

TEST_F(JobListViewTest, PaintsTheLayoutsColours) {
  jobs[2]->JobFailed("No route to host");  // top row
  jobs[1]->SetState(JobState::Succeeded);  // middle row
  view->show();
  view->setFocus();
  view->setCurrentIndex(view->jobModel()->index(1));
  ASSERT_TRUE(
      WaitFor([&] { return view->hasFocus() || QApplication::focusWidget() == view.get(); }, 2000));
  const QImage image = view->viewport()->grab().toImage();
  ASSERT_FALSE(image.isNull());

  // Separator at the last pixel line of each row, in grey.
  EXPECT_EQ(image.pixelColor(200, kRowHeight - 1), QColor(204, 204, 204));
  EXPECT_EQ(image.pixelColor(200, 2 * kRowHeight - 1), QColor(204, 204, 204));
  // The selected and focused middle row is filled with the strong blue.
  EXPECT_EQ(image.pixelColor(250, kRowHeight + 4), QColor(0, 102, 255));
  // The failed top row has red pixels in its error line (two lines, centred: +28).
  bool red = false;
  for (int x = 38; x < 300 && !red; ++x) {
    for (int y = 28; y < 28 + kLineHeight && !red; ++y) {
      const QColor c = image.pixelColor(x, y);
      red = c.red() > 200 && c.green() < 80 && c.blue() < 80;
    }
  }
  EXPECT_TRUE(red);
}

TEST_F(JobListViewTest, DoubleClickShowsTransferInformationOfTheRow) {
  JobStatus intakeFailure(ActionKind::Unknown, "", "kelv:bogus");
  intakeFailure.JobFailed("Unknown command bogus");
  view->AddJob(&intakeFailure);

  DialogScript script;
  std::map<std::string, std::string> seen;
  script.On(names::kTransferInfo, [&](QDialog& dialog) {
    seen["title"] = dialog.windowTitle().toStdString();
    seen["label"] = LabelText(dialog, names::kNameLabel);
    seen["info"] = LabelText(dialog, names::kInformationValue);
    seen["date"] = LabelText(dialog, names::kDateValue);
    seen["box"] =
        dialog.findChild<QPlainTextEdit*>(names::kMessagesBox)->toPlainText().toStdString();
    seen["parent"] = dialog.parentWidget() == view->window() ? "the view's window" : "other";
    seen["focus"] = dialog.focusWidget() ? dialog.focusWidget()->objectName().toStdString() : "";
    EXPECT_TRUE(Click(dialog, names::kClose));
  });
  view->OpenTransferInformation(0);
  EXPECT_EQ(seen["title"], "Transfer information");
  EXPECT_EQ(seen["label"], "Chapter name:");
  EXPECT_EQ(seen["info"], "There was following problems with unknown command");
  EXPECT_EQ(seen["date"].size(), 19u);
  EXPECT_EQ(seen["box"], "Unknown command bogus");
  EXPECT_EQ(seen["parent"], "the view's window");
  EXPECT_EQ(seen["focus"], names::kClose);
  EXPECT_EQ(script.Seen(), (std::vector<std::string>{names::kTransferInfo}));
}

TEST_F(JobListViewTest, SendErrorReportClosesTheDialogAndOpensTheForm) {
  jobs[0]->SetState(JobState::Succeeded);
  DialogScript script;
  std::string label;
  script.On(names::kTransferInfo, [&](QDialog& dialog) {
    label = LabelText(dialog, names::kNameValue);
    EXPECT_TRUE(Click(dialog, names::kSendErrorReport));
  });
  script.On(names::kErrorReport,
            [&](QDialog& dialog) { EXPECT_TRUE(Click(dialog, names::kCancel)); });
  view->OpenTransferInformation(2);
  EXPECT_EQ(label, "chapter 0");
  EXPECT_EQ(script.Seen(), (std::vector<std::string>{names::kTransferInfo, names::kErrorReport}));
  view->OpenTransferInformation(7);  // no such row: nothing opens
  EXPECT_EQ(script.Seen().size(), 2u);
}

}  // namespace
}  // namespace hopwell
