#pragma once

#include <vector>

#include <QAbstractListModel>

namespace hopwell {

class JobStatus;

// The jobs of the list in arrival order, the newest in row 0. A row stays where it is when
// its job changes or ends; rows are only ever added. User-interface thread.
class JobListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  enum Role { JobRole = Qt::UserRole + 1 };

  explicit JobListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole: the job's description; JobRole: the JobStatus* as a pointer.
  QVariant data(const QModelIndex& index, int role) const override;

  // Inserts the job at row 0; a job already in the list is not added twice.
  void AddJob(JobStatus* job);
  JobStatus* JobAt(int row) const;
  // The row that shows the job, or -1.
  int RowOf(const JobStatus* job) const;

  // Announces that the jobs changed: one dataChanged per run of adjacent rows.
  void JobsChanged(const std::vector<const JobStatus*>& jobs);

 private:
  std::vector<JobStatus*> arrivals_;  // oldest first: row r shows arrivals_[size - 1 - r]
};

}  // namespace hopwell
