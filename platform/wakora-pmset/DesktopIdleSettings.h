#pragma once

#include "IdleSettings.h"

#include <QDBusConnection>

#include <optional>

// The idle settings of the desktop this session runs, which decide when it
// sleeps there: GNOME's GSettings, Plasma's PowerDevil files, Xfce's xfconf.
namespace DesktopIdleSettings {

// Absent when no desktop we know manages idle here (no session at all, as
// for the privileged helper, or another desktop): logind's then apply.
// Which desktop: the first of XDG_CURRENT_DESKTOP's entries we know; with
// XDG_CURRENT_DESKTOP unset, the one whose power manager is on the session bus.
std::optional<IdleSettings> read(QDBusConnection &systemBus);

} // namespace DesktopIdleSettings
