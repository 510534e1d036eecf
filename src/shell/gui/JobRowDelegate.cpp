#include "shell/gui/JobRowDelegate.h"

#include <QPainter>

#include "intake/JobStatus.h"
#include "shell/JobRowLayout.h"
#include "shell/gui/JobListModel.h"
#include "shell/gui/StatusPictures.h"

namespace hopwell {
namespace {

QColor ToQColor(const Rgb& rgb) {
  return QColor(rgb.r, rgb.g, rgb.b);
}

// The layout's rectangles exclude their right and bottom edges.
QRect ToQRect(const RowRect& rect) {
  return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

QColor Resolve(const TextColour& colour, const QPalette& palette) {
  switch (colour.source) {
    case TextColour::Source::HighlightText:
      return palette.color(QPalette::HighlightedText);
    case TextColour::Source::Fixed:
      return ToQColor(colour.fixed);
    case TextColour::Source::WindowText:
      break;
  }
  return palette.color(QPalette::Text);
}

}  // namespace

JobRowDelegate::JobRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QSize JobRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return QSize(option.rect.width(), kRowHeight);
}

void JobRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
  auto* job = static_cast<JobStatus*>(index.data(JobListModel::JobRole).value<void*>());
  if (job == nullptr) return;
  const QRect& area = option.rect;
  const RowRect rect{area.left(), area.top(), area.left() + area.width(),
                     area.top() + area.height()};
  const bool selected = option.state.testFlag(QStyle::State_Selected);
  const bool focused = option.state.testFlag(QStyle::State_HasFocus);
  const RowLayout layout = LayoutJobRow(ReadRowContent(*job), rect, selected, focused);
  const QPalette& palette = option.palette;

  painter->save();
  switch (layout.background) {
    case RowBackground::Window:
      painter->fillRect(area, palette.color(QPalette::Base));
      break;
    case RowBackground::Highlight:
      painter->fillRect(area, palette.color(QPalette::Highlight));
      break;
    case RowBackground::SelectedFocused:
      painter->fillRect(area, ToQColor(kSelectedFocusedFill));
      break;
  }

  painter->setFont(option.font);
  const QColor stampColour = Resolve(
      {selected ? TextColour::Source::HighlightText : TextColour::Source::WindowText, {}}, palette);
  painter->setPen(stampColour);
  for (const RowStamp& stamp : layout.stamps) {
    painter->drawText(ToQRect(stamp.rect), Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip,
                      QString::fromStdString(stamp.text));
  }

  const QFontMetrics metrics(option.font);
  for (const RowTextLine& line : layout.lines) {
    const QRect lineRect = ToQRect(line.rect);
    painter->setPen(Resolve(line.colour, palette));
    const QString text =
        metrics.elidedText(QString::fromStdString(line.text), Qt::ElideRight, lineRect.width());
    painter->drawText(lineRect, Qt::AlignLeft | Qt::AlignVCenter, text);
  }

  painter->drawPixmap(ToQRect(layout.pictureRect), StatusPicture(layout.picture));

  painter->setPen(QPen(ToQColor(kSeparatorGrey), 1));
  painter->drawLine(layout.separatorLeft, layout.separatorY, layout.separatorRight - 1,
                    layout.separatorY);
  painter->restore();
}

}  // namespace hopwell
