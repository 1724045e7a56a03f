#pragma once

#include <QColor>
#include <QIcon>
#include <optional>

namespace trelvane {

// The program's icon, for the window and the tray: a yellow lightning bolt beside a few black
// dots, at the theme's usual sizes.
QIcon BoltIcon();

// The same icon with a round mark of `colour` in its lower right corner, ringed in white so that
// it shows on any panel: the tray's sign of the link's condition.
QIcon MarkedBoltIcon(const QColor& colour);

}  // namespace trelvane
