#pragma once

#include <unordered_map>
#include <vector>

#include <QAbstractListModel>

namespace hopwell {

class JobStatus;

// The jobs of the list, newest in row 0. Rows are only ever added. User-interface thread.
class JobListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  enum Role { JobRole = Qt::UserRole + 1 };

  explicit JobListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole: the job's description; JobRole: the JobStatus* as a pointer.
  QVariant data(const QModelIndex& index, int role) const override;

  // Inserts the job as row 0; a job already in the list is not added twice.
  void AddJob(JobStatus* job);
  JobStatus* JobAt(int row) const;
  // The row that shows the job, or -1.
  int RowOf(const JobStatus* job) const;

  // Announces that the jobs changed: one dataChanged per run of adjacent rows.
  void JobsChanged(const std::vector<const JobStatus*>& jobs);

 private:
  std::vector<JobStatus*> jobs_;  // in arrival order
  std::unordered_map<const JobStatus*, std::size_t> arrival_;
};

}  // namespace hopwell
