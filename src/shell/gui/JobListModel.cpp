#include "shell/gui/JobListModel.h"

#include <algorithm>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "intake/JobStatus.h"

namespace hopwell {
namespace {

namespace pt = boost::posix_time;

// A time that was never set or was set to a special value sorts as the oldest.
pt::ptime SortTime(const pt::ptime& time) {
  return time.is_special() ? pt::ptime(pt::min_date_time) : time;
}

}  // namespace

JobListModel::JobListModel(QObject* parent) : QAbstractListModel(parent) {}

bool JobListModel::Above(const Row& a, const Row& b) {
  if (a.time != b.time) return a.time > b.time;
  return a.arrival > b.arrival;
}

int JobListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
  JobStatus* job = index.isValid() ? JobAt(index.row()) : nullptr;
  if (job == nullptr) return {};
  if (role == Qt::DisplayRole) return QString::fromStdString(job->Description());
  if (role == JobRole) return QVariant::fromValue(static_cast<void*>(job));
  return {};
}

void JobListModel::AddJob(JobStatus* job) {
  if (job == nullptr || RowOf(job) >= 0) return;
  // Stamps a job without a time now, so that its row shows when it arrived.
  const Row row{job, SortTime(job->GetTime()), arrivals_++};
  const auto place = std::lower_bound(rows_.begin(), rows_.end(), row, &JobListModel::Above);
  const int at = static_cast<int>(place - rows_.begin());
  beginInsertRows(QModelIndex(), at, at);
  rows_.insert(place, row);
  endInsertRows();
}

JobStatus* JobListModel::JobAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return rows_[static_cast<std::size_t>(row)].job;
}

int JobListModel::RowOf(const JobStatus* job) const {
  const auto it =
      std::find_if(rows_.begin(), rows_.end(), [job](const Row& row) { return row.job == job; });
  return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

void JobListModel::Resort(int from) {
  Row row = rows_[static_cast<std::size_t>(from)];
  row.time = SortTime(row.job->GetTime());
  rows_.erase(rows_.begin() + from);
  const auto place = std::lower_bound(rows_.begin(), rows_.end(), row, &JobListModel::Above);
  const int to = static_cast<int>(place - rows_.begin());
  if (to == from) {
    rows_.insert(place, row);
    return;
  }
  // Qt counts the destination among the rows before the move.
  beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
  rows_.insert(place, row);
  endMoveRows();
}

void JobListModel::JobsChanged(const std::vector<const JobStatus*>& jobs) {
  for (const JobStatus* job : jobs) {
    const int row = RowOf(job);
    if (row >= 0 && SortTime(rows_[static_cast<std::size_t>(row)].job->GetTime()) !=
                        rows_[static_cast<std::size_t>(row)].time) {
      Resort(row);
    }
  }
  std::vector<int> rows;
  for (const JobStatus* job : jobs) {
    if (int row = RowOf(job); row >= 0) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (std::size_t begin = 0; begin < rows.size();) {
    std::size_t end = begin;
    while (end + 1 < rows.size() && rows[end + 1] == rows[end] + 1) ++end;
    emit dataChanged(index(rows[begin]), index(rows[end]));
    begin = end + 1;
  }
}

}  // namespace hopwell
