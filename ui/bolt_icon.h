#pragma once

#include <QIcon>

namespace trelvane {

// The program's icon: a yellow lightning bolt beside a few black dots, drawn at 16, 32 and 48
// pixels.
QIcon BoltIcon();

}  // namespace trelvane
