#pragma once

#include <QFrame>
#include <QImage>
#include <vector>

#include "graph/geometry.h"

namespace trelvane {

// The picture box of the graph: a black area with a sunken border whose drawing lives in a
// persistent image, so it survives hiding and covering. Lines come in twips (15 to the pixel at
// 96 dpi) from the top left corner of the inner area and are clipped to it.
class GraphView : public QFrame {
  Q_OBJECT

 public:
  explicit GraphView(QWidget* parent = nullptr);

  void Clear();
  void Draw(const std::vector<Line>& lines);
  // The drawing as it stands, one image pixel per device pixel.
  const QImage& image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void EnsureImage();
  QImage image_;
};

}  // namespace trelvane
