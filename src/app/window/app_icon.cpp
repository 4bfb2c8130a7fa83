#include "app/window/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vyo {

// Drawn on a 256-unit square: a rounded tile, a gauge arc ending in a red
// band, a needle and its hub.
QPixmap AppIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);

  QLinearGradient tile(0, 16, 0, 240);
  tile.setColorAt(0, QColor(0x15, 0x65, 0xa0));
  tile.setColorAt(1, QColor(0x0b, 0x3d, 0x66));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(16, 16, 224, 224), 44, 44);

  const QRectF gauge(128 - 76, 144 - 76, 152, 152);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, 16, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(gauge, 210 * 16, -180 * 16);
  p.setPen(QPen(QColor(0xff, 0x5a, 0x36), 16, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(gauge, 30 * 16, -60 * 16);

  p.setPen(QPen(QColor(0xff, 0xb3, 0x00), 12, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(128, 144), QPointF(160, 88.6));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(128, 144), 14, 14);
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(AppIconPixmap(size));
  return icon;
}

}  // namespace vyo
