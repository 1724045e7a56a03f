#include "ui/graph_view.h"

#include <QPainter>
#include <QResizeEvent>
#include <QWindow>

namespace trelvane {
namespace {
constexpr double kTwipsPerPixel = 15.0;
}

GraphView::GraphView(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  setAutoFillBackground(false);
}

void GraphView::EnsureImage() {
  const qreal ratio = devicePixelRatioF();
  const QSize size = (contentsRect().size() * ratio).expandedTo(QSize(1, 1));
  if (image_.size() == size && image_.devicePixelRatio() == ratio) return;
  QImage fresh(size, QImage::Format_RGB32);
  fresh.fill(Qt::black);
  if (!image_.isNull()) {
    QPainter painter(&fresh);
    painter.drawImage(0, 0, image_);
  }
  fresh.setDevicePixelRatio(ratio);
  image_ = fresh;
}

void GraphView::Clear() {
  EnsureImage();
  image_.fill(Qt::black);
  update();
}

void GraphView::Draw(const std::vector<Line>& lines) {
  EnsureImage();
  QPainter painter(&image_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.scale(1.0 / kTwipsPerPixel, 1.0 / kTwipsPerPixel);
  for (const Line& line : lines) {
    // Width 0: a cosmetic pen, one device pixel whatever the scale.
    painter.setPen(QPen(QColor(line.colour.red, line.colour.green, line.colour.blue), 0));
    painter.drawLine(QLineF(static_cast<float>(line.x1), static_cast<float>(line.y1),
                            static_cast<float>(line.x2), static_cast<float>(line.y2)));
  }
  update();
}

void GraphView::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  EnsureImage();
  QPainter painter(this);
  painter.drawImage(contentsRect().topLeft(), image_);
}

void GraphView::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  EnsureImage();
}

}  // namespace trelvane
