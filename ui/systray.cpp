#include "ui/systray.h"

#include <QSystemTrayIcon>

namespace SysTrayCtl {

cSysTray::cSysTray(const QIcon& icon, QObject* parent)
    : QObject(parent), icon_(new QSystemTrayIcon(icon, this)) {
  setObjectName("csys");
  connect(icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) emit IconEvent(1, 1);
            if (reason == QSystemTrayIcon::DoubleClick) emit IconEvent(1, 2);
          });
}

void cSysTray::setIntray(bool in_tray) {
  intray_ = in_tray;
  icon_->setVisible(in_tray);
}

void cSysTray::setTrayTip(const QString& tip) {
  tip_ = tip;
  icon_->setToolTip(tip);
}

bool cSysTray::Available() const {
  return available_for_testing_.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

}  // namespace SysTrayCtl
