#include "ui/bolt_icon.h"

#include <QDir>
#include <QFileInfo>

namespace trelvane {

QIcon BoltIcon() {
  // Rendered at build time from data/icons/trelvane.svg, the one source of the artwork, at the
  // sizes the build lists: each picture is named after its size.
  QIcon icon;
  const QDir pictures(":/icons");
  for (const QString& name : pictures.entryList({"*.png"})) {
    const int size = QFileInfo(name).baseName().toInt();
    icon.addFile(pictures.filePath(name), QSize(size, size));
  }
  return icon;
}

}  // namespace trelvane
