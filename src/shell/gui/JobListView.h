#pragma once

#include <mutex>
#include <unordered_set>

#include <QListView>
#include <QTimer>

namespace hopwell {

class JobStatus;
class JobListModel;
class JobRowDelegate;

// The main window's job list: one 56-pixel row per job, newest on top, painted by
// JobRowDelegate. A double click opens the "Transfer information" dialog of the row's job.
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

 private:
  void FlushChanges();

  JobListModel* model_;
  JobRowDelegate* delegate_;
  QTimer flushTimer_;
  std::mutex pendingLock_;
  std::unordered_set<JobStatus*> pending_;
  bool flushScheduled_ = false;
};

}  // namespace hopwell
