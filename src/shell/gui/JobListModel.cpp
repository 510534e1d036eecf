#include "shell/gui/JobListModel.h"

#include <algorithm>

#include "intake/JobStatus.h"

namespace hopwell {

JobListModel::JobListModel(QObject* parent) : QAbstractListModel(parent) {}

int JobListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(arrivals_.size());
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
  job->GetTime();
  beginInsertRows(QModelIndex(), 0, 0);
  arrivals_.push_back(job);
  endInsertRows();
}

JobStatus* JobListModel::JobAt(int row) const {
  if (row < 0 || row >= static_cast<int>(arrivals_.size())) return nullptr;
  return arrivals_[arrivals_.size() - 1 - static_cast<std::size_t>(row)];
}

int JobListModel::RowOf(const JobStatus* job) const {
  const auto it = std::find(arrivals_.begin(), arrivals_.end(), job);
  return it == arrivals_.end() ? -1 : static_cast<int>(arrivals_.end() - it) - 1;
}

void JobListModel::JobsChanged(const std::vector<const JobStatus*>& jobs) {
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
