#include "ui/bolt_icon.h"

#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

namespace trelvane {

QIcon BoltIcon() {
  // Rendered at build time from data/icons/trelvane.svg, the one source of the artwork, at the
  // sizes the build lists. Every file there is one of them, read as the PNG it is: a name pattern
  // would bring in the regular-expression engine, and a picture of unknown format has Qt load
  // every image plugin to ask which one reads it.
  QIcon icon;
  const QDir pictures(":/icons");
  for (const QString& name : pictures.entryList(QDir::Files)) {
    QImageReader reader(pictures.filePath(name), "png");
    reader.setAutoDetectImageFormat(false);
    icon.addPixmap(QPixmap::fromImage(reader.read()));
  }
  return icon;
}

QIcon MarkedBoltIcon(const QColor& colour) {
  const QIcon plain = BoltIcon();
  QIcon marked;
  for (const QSize& size : plain.availableSizes()) {
    QPixmap picture = plain.pixmap(size);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    // A dot of half the icon's width; its ring a sixteenth, at least a pixel.
    const qreal diameter = size.width() / 2.0;
    const qreal ring = std::max(1.0, size.width() / 16.0);
    painter.setPen(QPen(Qt::white, ring));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(size.width() - diameter - ring / 2,
                               size.height() - diameter - ring / 2, diameter, diameter));
    painter.end();
    marked.addPixmap(picture);
  }
  return marked;
}

}  // namespace trelvane
