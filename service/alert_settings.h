#pragma once

#include <QString>

#include "alert/link_state.h"

namespace trelvane {

// Where the settings last: $XDG_CONFIG_HOME/trelvane/trelvane.conf (~/.config/trelvane/ by
// default), an INI file with a group [alerts]: enabled (true/false), down_after (measurements,
// 1 to 60) and degraded_threshold (percent, 1 to 100).
QString AlertSettingsPath();

// The settings of `path`. A missing file gives the defaults; an unreadable or malformed file, or
// a value that does not read or is out of range, gives the default in its place and one stderr
// line naming the file. Never fails.
AlertSettings LoadAlertSettings(const QString& path);

// Saves whether alerts are on (the tray menu's "Alertes"); false when the file cannot be written.
bool SaveAlertsEnabled(const QString& path, bool enabled);

}  // namespace trelvane
