#include "ui/graph_picture.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QStandardPaths>
#include <cstdio>

#include "ui/form1.h"
#include "ui/graph_view.h"

namespace trelvane {
namespace {

// What the picture holds besides the graph: the scales, the hour and date labels, the ticks.
constexpr const char* kAround[] = {"Label16", "Label17", "Label18", "Label19", "Label21",
                                   "Label22", "Label23", "Label24", "Label28", "lh1",
                                   "lh2",     "lh3",     "lh4",     "Line2",   "Line3"};

}  // namespace

QImage GraphPicture(const Form1& form) {
  QRect area = form.Picture1->geometry();
  for (const char* name : kAround) {
    if (const QWidget* w = form.findChild<QWidget*>(name)) area |= w->geometry();
  }
  area &= form.rect();  // "2000ms" reaches past the window's edge, and is cut there as on screen
  const qreal ratio = form.devicePixelRatioF();
  QImage image(area.size() * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(form.palette().color(QPalette::Window));
  QPainter painter(&image);
  auto paint = [&](QWidget* w) {
    w->render(&painter, w->geometry().topLeft() - area.topLeft(), QRegion(), QWidget::DrawChildren);
  };
  paint(form.Picture1);
  for (const char* name : kAround) {
    if (auto* w = form.findChild<QWidget*>(name)) paint(w);
  }
  // The host, for whoever opens the file: in its text fields (PNG keeps them).
  if (!form.shown_host().isEmpty()) image.setText(QStringLiteral("Title"), form.shown_host());
  return image;
}

QString GraphPictureName(const Form1& form) {
  const Measurement* shown = form.series().Item(form.scroll_offset());
  if (shown == nullptr || shown->stamp.size() < 15) return QStringLiteral("trelvane.png");
  const QString stamp = QString::fromLatin1(shown->stamp);
  // The host as far as a file name takes it: letters, digits, '.', '-' ("::1" gives "1").
  QString host;
  for (const QChar c : form.shown_host()) {
    if ((c.isLetterOrNumber() && c.unicode() < 0x80) || c == '.' || c == '-') host += c;
  }
  // By position, whatever the separators: dd?mm?yyyy-...hh?mm.
  QString name = QStringLiteral("trelvane-%1%2-%3-%4-%5%6.png")
                     .arg(host.isEmpty() ? QString() : host + "-", stamp.mid(6, 4), stamp.mid(3, 2),
                          stamp.left(2), stamp.right(5).left(2), stamp.right(2));
  for (const QChar c : name) {
    if (!c.isLetterOrNumber() && c != '-' && c != '.') return QStringLiteral("trelvane.png");
  }
  return name;
}

void AddGraphPictureMenu(Form1& form) {
  GraphView* graph = form.Picture1;
  graph->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* menu = new QMenu(graph);
  menu->setObjectName("GraphMenu");
  QAction* copy = menu->addAction(QStringLiteral("Copier l'image"));
  QAction* save = menu->addAction(QStringLiteral("Enregistrer l'image..."));
  QObject::connect(copy, &QAction::triggered, graph,
                   [&form] { QApplication::clipboard()->setImage(GraphPicture(form)); });
  QObject::connect(save, &QAction::triggered, graph, [&form] {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString path = QFileDialog::getSaveFileName(&form, QStringLiteral("Enregistrer l'image"),
                                                      folder + "/" + GraphPictureName(form),
                                                      QStringLiteral("Images PNG (*.png)"));
    if (!path.isEmpty() && !GraphPicture(form).save(path, "PNG")) {
      std::fprintf(stderr, "trelvane: cannot write %s\n", path.toLocal8Bit().constData());
    }
  });
  QObject::connect(graph, &QWidget::customContextMenuRequested, menu,
                   [menu, graph](const QPoint& at) { menu->popup(graph->mapToGlobal(at)); });
}

}  // namespace trelvane
