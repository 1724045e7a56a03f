#include "ui/tray_menu.h"

namespace trelvane {

TrayMenu::TrayMenu(QWidget* parent)
    : QMenu(parent),
      restore_(addAction(QStringLiteral("Restaurer"))),
      alerts_(addAction(QStringLiteral("Alertes"))),
      quit_(addAction(QStringLiteral("Quitter"))) {
  setObjectName("TrayMenu");
  alerts_->setCheckable(true);
  alerts_->setChecked(true);
}

}  // namespace trelvane
