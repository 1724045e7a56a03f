#include "ui/bolt_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

namespace trelvane {
namespace {

QPixmap DrawBolt(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing, size > 16);
  painter.scale(size / 16.0, size / 16.0);
  // The bolt, on a 16 x 16 grid: down from the top right, a step to the left, down to the tip.
  const QPolygonF bolt(
      {{9.5, 0.5}, {3.5, 8.5}, {7.5, 8.5}, {5.5, 15.5}, {12.5, 6.5}, {8.5, 6.5}, {11.5, 0.5}});
  painter.setPen(QPen(QColor(96, 64, 0), 0.8));
  painter.setBrush(QColor(255, 221, 0));
  painter.drawPolygon(bolt);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  for (const QPointF& dot :
       {QPointF(1.5, 12.5), QPointF(1.5, 14.5), QPointF(13.5, 11.5), QPointF(14.5, 14.0)}) {
    painter.drawEllipse(dot, 0.9, 0.9);
  }
  return pixmap;
}

}  // namespace

QIcon BoltIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addPixmap(DrawBolt(size));
  return icon;
}

}  // namespace trelvane
