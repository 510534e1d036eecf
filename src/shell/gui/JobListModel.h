#pragma once

#include <cstddef>
#include <vector>

#include <QAbstractListModel>
#include <boost/date_time/posix_time/ptime.hpp>

namespace hopwell {

class JobStatus;

// The jobs of the list, ordered by the time each row shows: the job's time, stamped when the
// job arrives and set again by the open, save and install commands when they launch or
// finish. Newest in row 0; of two jobs with the same time, the later arrival is above. A job
// whose time changes moves to its place. Rows are only ever added. User-interface thread.
class JobListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  enum Role { JobRole = Qt::UserRole + 1 };

  explicit JobListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole: the job's description; JobRole: the JobStatus* as a pointer.
  QVariant data(const QModelIndex& index, int role) const override;

  // Inserts the job at its place (row 0 for a new job); a job already in the list is not
  // added twice.
  void AddJob(JobStatus* job);
  JobStatus* JobAt(int row) const;
  // The row that shows the job, or -1.
  int RowOf(const JobStatus* job) const;

  // Announces that the jobs changed: rows whose time changed move first, then one
  // dataChanged per run of adjacent rows.
  void JobsChanged(const std::vector<const JobStatus*>& jobs);

 private:
  struct Row {
    JobStatus* job = nullptr;
    boost::posix_time::ptime time;  // the job's time when last read
    std::size_t arrival = 0;
  };

  static bool Above(const Row& a, const Row& b);
  void Resort(int row);

  std::vector<Row> rows_;  // in display order
  std::size_t arrivals_ = 0;
};

}  // namespace hopwell
