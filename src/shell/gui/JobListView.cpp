#include "shell/gui/JobListView.h"

#include <vector>

#include "intake/JobStatus.h"
#include "shell/gui/DialogSeam.h"
#include "shell/gui/Dialogs.h"
#include "shell/gui/JobListModel.h"
#include "shell/gui/JobRowDelegate.h"
#include "shell/gui/TransferInfoDialog.h"

namespace hopwell {
namespace {
// Bursts of progress from command threads are redrawn at most this often.
constexpr int kRedrawDelayMilliseconds = 50;
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
    // No owner window, as the other dialogs of the client.
    TransferInfoDialog dialog(*job, nullptr);
    ExecObserved(dialog);
    sendReport = dialog.SendReportChosen();
  }
  if (sendReport) ShowErrorReportDialog(nullptr);
}

}  // namespace hopwell
