#include "shell/gui/ClientIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace hopwell {

QPixmap DrawClientIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal unit = size / 16.0;
  // A rounded blue tile with a white upward arrow over a tray: "transfers".
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
  painter.drawRoundedRect(QRectF(0.5 * unit, 0.5 * unit, 15 * unit, 15 * unit), 3 * unit, 3 * unit);
  painter.setBrush(Qt::white);
  QPainterPath arrow;
  arrow.moveTo(8 * unit, 2.5 * unit);
  arrow.lineTo(12.5 * unit, 7 * unit);
  arrow.lineTo(9.5 * unit, 7 * unit);
  arrow.lineTo(9.5 * unit, 10.5 * unit);
  arrow.lineTo(6.5 * unit, 10.5 * unit);
  arrow.lineTo(6.5 * unit, 7 * unit);
  arrow.lineTo(3.5 * unit, 7 * unit);
  arrow.closeSubpath();
  painter.drawPath(arrow);
  painter.drawRect(QRectF(3.5 * unit, 12 * unit, 9 * unit, 1.5 * unit));
  return pixmap;
}

QIcon ClientIcon() {
  static const QIcon icon = [] {
    QIcon made;
    for (int size : {16, 22, 32, 48, 64, 128}) made.addPixmap(DrawClientIcon(size));
    return made;
  }();
  return icon;
}

}  // namespace hopwell
