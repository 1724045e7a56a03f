#pragma once

#include <QIcon>

namespace trelvane {

// The program's icon, for the window and the tray: a yellow lightning bolt beside a few black
// dots, at the theme's usual sizes.
QIcon BoltIcon();

}  // namespace trelvane
