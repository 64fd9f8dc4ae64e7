#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 32.0;

  // Handset body and screen.
  p.setPen(QPen(QColor(20, 20, 60), 1.2 * s));
  p.setBrush(QColor(0, 0, 128));
  p.drawRoundedRect(QRectF(7 * s, 2 * s, 14 * s, 28 * s), 3 * s, 3 * s);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(192, 220, 255));
  p.drawRect(QRectF(9.5 * s, 5 * s, 9 * s, 10 * s));
  p.setBrush(QColor(192, 192, 192));
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) p.drawEllipse(QRectF((10 + col * 3) * s, (18 + row * 3.5) * s, 2 * s, 2 * s));

  // Download arrow over the lower right corner.
  QPainterPath arrow;
  arrow.moveTo(22 * s, 14 * s);
  arrow.lineTo(28 * s, 14 * s);
  arrow.lineTo(28 * s, 21 * s);
  arrow.lineTo(31 * s, 21 * s);
  arrow.lineTo(25 * s, 29 * s);
  arrow.lineTo(19 * s, 21 * s);
  arrow.lineTo(22 * s, 21 * s);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(255, 255, 255), 1 * s));
  p.setBrush(QColor(220, 40, 40));
  p.drawPath(arrow);
  return pixmap;
}

}  // namespace

QIcon VelmoraIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
  return icon;
}
