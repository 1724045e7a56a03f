#include "ui/tray_menu.h"

namespace trelvane {

TrayMenu::TrayMenu(QWidget* parent)
    : QMenu(parent),
      restore_(addAction(QStringLiteral("Restaurer"))),
      quit_(addAction(QStringLiteral("Quitter"))) {
  setObjectName("TrayMenu");
}

}  // namespace trelvane
