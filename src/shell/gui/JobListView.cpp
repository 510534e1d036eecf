#include "shell/gui/JobListView.h"

#include <vector>

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "base/FrontEnd.h"
#include "intake/JobStatus.h"
#include "resources/StringTable.h"
#include "shell/JobRowActions.h"
#include "shell/gui/DialogSeam.h"
#include "shell/gui/Dialogs.h"
#include "shell/gui/JobListModel.h"
#include "shell/gui/JobRowDelegate.h"
#include "shell/gui/TransferInfoDialog.h"
#include "support/CurrentLogFile.h"

namespace hopwell {
namespace {
// Bursts of progress from command threads are redrawn at most this often.
constexpr int kRedrawDelayMilliseconds = 50;

QAction* AddAction(QMenu* menu, const char* text, const char* name) {
  QAction* action = menu->addAction(QString::fromUtf8(text));
  action->setObjectName(QString::fromUtf8(name));
  return action;
}

bool ConfirmCancel(const JobStatus& job, QWidget* owner) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(LoadString(kIdsAppTitle)),
                  QString::fromStdString(CancelQuestion(job)), QMessageBox::Yes | QMessageBox::No,
                  owner);
  box.setObjectName(QStringLiteral("CancelJobBox"));
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  box.button(QMessageBox::Yes)->setObjectName(QStringLiteral("yesButton"));
  box.button(QMessageBox::No)->setObjectName(QStringLiteral("noButton"));
  return ExecObserved(box) == QMessageBox::Yes;
}

}  // namespace

JobListView::JobListView(QWidget* parent)
    : QListView(parent), model_(new JobListModel(this)), delegate_(new JobRowDelegate(this)) {
  setObjectName("jobList");
  setModel(model_);
  setItemDelegate(delegate_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);

  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kRedrawDelayMilliseconds);
  connect(&flushTimer_, &QTimer::timeout, this, &JobListView::FlushChanges);
  connect(this, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) { OpenTransferInformation(index.row()); });
}

QMenu* JobListView::RowMenu(int row, QWidget* parent) {
  JobStatus* job = model_->JobAt(row);
  if (job == nullptr) return nullptr;
  const JobRowActions actions = ActionsFor(*job);
  auto* menu = new QMenu(parent);
  // The actions hold the job itself: a job arriving while the menu is open moves the rows.
  if (actions.cancel) {
    connect(AddAction(menu, "Cancel", "actionCancelJob"), &QAction::triggered, this,
            [this, job] { CancelJob(*job); });
  }
  if (actions.retry) {
    connect(AddAction(menu, "Retry", "actionRetryJob"), &QAction::triggered, this,
            [this, job] { RetryJobOf(*job); });
  }
  if (actions.showFolder) {
    connect(AddAction(menu, "Show in folder", "actionShowInFolder"), &QAction::triggered, this,
            [this, job] { ShowFolderOf(*job); });
  }
  if (actions.openLog) {
    if (!menu->isEmpty()) menu->addSeparator();
    connect(AddAction(menu, "Open log file", "actionOpenLogFile"), &QAction::triggered, this,
            [this] { OpenLogFile(); });
  }
  return menu;
}

void JobListView::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = indexAt(event->pos());
  if (!index.isValid()) return;
  setCurrentIndex(index);
  QMenu* menu = RowMenu(index.row(), this);
  if (menu == nullptr) return;
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void JobListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && currentIndex().isValid()) {
    CancelRow(currentIndex().row());
    return;
  }
  QListView::keyPressEvent(event);
}

void JobListView::CancelRow(int row) {
  if (JobStatus* job = model_->JobAt(row)) CancelJob(*job);
}

void JobListView::RetryRow(int row) {
  if (JobStatus* job = model_->JobAt(row)) RetryJobOf(*job);
}

void JobListView::ShowFolderOfRow(int row) {
  if (JobStatus* job = model_->JobAt(row)) ShowFolderOf(*job);
}

void JobListView::CancelJob(JobStatus& job) {
  const JobRowActions actions = ActionsFor(job);
  if (!actions.cancel) return;
  if (actions.confirmCancel && !ConfirmCancel(job, this)) return;
  job.Cancel();
}

void JobListView::RetryJobOf(JobStatus& job) {
  if (ActionsFor(job).retry) RetryJob(job);
}

void JobListView::ShowFolderOf(JobStatus& job) {
  if (!ActionsFor(job).showFolder) return;
  const boost::filesystem::path folder = FolderToShow(job);
  if (!folder.empty()) FrontEnd()->ExploreFolder(folder);
}

void JobListView::OpenLogFile() {
  const boost::filesystem::path log = CurrentLogFile();
  if (log.empty()) return;
  FrontEnd()->OpenUrl(QUrl::fromLocalFile(QString::fromStdString(log.string()))
                          .toString(QUrl::FullyEncoded)
                          .toStdString());
}

JobListView::~JobListView() = default;

void JobListView::AddJob(JobStatus* job) {
  model_->AddJob(job);
}

void JobListView::JobChanged(JobStatus* job) {
  if (job == nullptr) return;
  std::lock_guard lock(pendingLock_);
  pending_.insert(job);
  if (flushScheduled_) return;
  flushScheduled_ = true;
  // The one place where command threads cross to the user-interface thread: a queued call
  // that only starts the redraw timer there.
  QMetaObject::invokeMethod(
      this, [this] { flushTimer_.start(); }, Qt::QueuedConnection);
}

void JobListView::FlushChanges() {
  std::vector<const JobStatus*> changed;
  {
    std::lock_guard lock(pendingLock_);
    changed.assign(pending_.begin(), pending_.end());
    pending_.clear();
    flushScheduled_ = false;
  }
  model_->JobsChanged(changed);
}

void JobListView::OpenTransferInformation(int row) {
  JobStatus* job = model_->JobAt(row);
  if (job == nullptr) return;
  bool sendReport = false;
  {
    TransferInfoDialog dialog(*job, window());
    ExecObserved(dialog);
    sendReport = dialog.SendReportChosen();
  }
  if (sendReport) ShowErrorReportDialog(window());
}

}  // namespace hopwell
