#pragma once

#include <QStyledItemDelegate>

namespace hopwell {

// Paints a job row exactly as LayoutJobRow places it: background, status picture, one to
// three text lines, date and time, separator.
class JobRowDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit JobRowDelegate(QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace hopwell
