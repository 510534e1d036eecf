#include "shell/gui/StatusPictures.h"

#include <map>

#include <QPainter>
#include <QPainterPath>

#include "shell/JobRowLayout.h"

namespace hopwell {
namespace {

enum class Glyph { Arrow, Cross, Tick };

const QColor kActiveBlue(0, 102, 255);
const QColor kFailedRed(214, 40, 40);
const QColor kSucceededGreen(30, 150, 70);

// A disc with a glyph; the selected variants swap disc and glyph colours so that they
// stand out on the blue selection.
QPixmap Draw(Glyph glyph, QColor colour, bool selected) {
  QPixmap pixmap(kPictureSize, kPictureSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor disc = selected ? QColor(Qt::white) : colour;
  const QColor mark = selected ? colour : QColor(Qt::white);
  painter.setPen(QPen(selected ? QColor(Qt::white) : colour.darker(130), 1.5));
  painter.setBrush(disc);
  painter.drawEllipse(QRectF(2, 2, 28, 28));

  QPen pen(mark, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  switch (glyph) {
    case Glyph::Arrow: {
      painter.drawLine(QPointF(16, 8), QPointF(16, 22));
      QPainterPath head;
      head.moveTo(10, 17);
      head.lineTo(16, 23);
      head.lineTo(22, 17);
      painter.drawPath(head);
      break;
    }
    case Glyph::Cross:
      painter.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
      painter.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
      break;
    case Glyph::Tick: {
      QPainterPath tick;
      tick.moveTo(9, 16.5);
      tick.lineTo(14, 21.5);
      tick.lineTo(23, 11);
      painter.drawPath(tick);
      break;
    }
  }
  return pixmap;
}

QPixmap Make(int id) {
  switch (id) {
    case kPictureActive:
      return Draw(Glyph::Arrow, kActiveBlue, false);
    case kPictureActiveSelected:
      return Draw(Glyph::Arrow, kActiveBlue, true);
    case kPictureSucceeded:
      return Draw(Glyph::Tick, kSucceededGreen, false);
    case kPictureSucceededSelected:
      return Draw(Glyph::Tick, kSucceededGreen, true);
    case kPictureFailedSelected:
      return Draw(Glyph::Cross, kFailedRed, true);
    default:
      return Draw(Glyph::Cross, kFailedRed, false);
  }
}

}  // namespace

QPixmap StatusPicture(int id) {
  // Painted on the user-interface thread only, so the cache needs no lock.
  static std::map<int, QPixmap> cache;
  auto it = cache.find(id);
  if (it == cache.end()) it = cache.emplace(id, Make(id)).first;
  return it->second;
}

}  // namespace hopwell
