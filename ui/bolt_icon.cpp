#include "ui/bolt_icon.h"

namespace trelvane {

QIcon BoltIcon() {
  // Rendered at build time from data/icons/trelvane.svg, the one source of the artwork.
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QString(":/icons/%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace trelvane
