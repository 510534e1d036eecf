#pragma once

#include <mutex>
#include <unordered_set>

#include <QListView>
#include <QTimer>

class QMenu;

namespace hopwell {

class JobStatus;
class JobListModel;
class JobRowDelegate;

// The main window's job list: one 56-pixel row per job, newest on top, painted by
// JobRowDelegate. A double click opens the "Transfer information" dialog of the row's job.
// A row's context menu offers what JobRowActions allows for its job (object names
// actionCancelJob, actionRetryJob, actionShowInFolder, actionOpenLogFile); the Delete key
// cancels the current row's job. Cancelling a running job asks first (a box named
// CancelJobBox with yesButton and noButton, shown through the dialog seam).
// Job records must outlive the view (intake keeps them for the life of the process).
class JobListView : public QListView {
  Q_OBJECT

 public:
  explicit JobListView(QWidget* parent = nullptr);
  ~JobListView() override;

  // A new job: becomes the top row. User-interface thread only.
  void AddJob(JobStatus* job);

  // The job's fields changed: its row is redrawn shortly after. Callable from any thread;
  // never waits for the user-interface thread. Changes arriving in a burst are redrawn
  // once. Jobs the list does not show are ignored.
  void JobChanged(JobStatus* job);

  JobListModel* jobModel() const { return model_; }

  // Opens the transfer information dialog of the job shown in `row` (what a double click
  // does); returns when the dialog is closed.
  void OpenTransferInformation(int row);

  // The row actions, as the menu and the Delete key run them. Rows without a job, and
  // actions the row does not offer, do nothing.
  void CancelRow(int row);
  void RetryRow(int row);
  void ShowFolderOfRow(int row);
  void OpenLogFile();
  // The context menu of a row (owned by `parent`); null for a row without a job.
  QMenu* RowMenu(int row, QWidget* parent);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FlushChanges();
  void CancelJob(JobStatus& job);
  void RetryJobOf(JobStatus& job);
  void ShowFolderOf(JobStatus& job);

  JobListModel* model_;
  JobRowDelegate* delegate_;
  QTimer flushTimer_;
  std::mutex pendingLock_;
  std::unordered_set<JobStatus*> pending_;
  bool flushScheduled_ = false;
};

}  // namespace hopwell
