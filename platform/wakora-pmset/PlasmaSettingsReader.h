#pragma once

#include "IdleSettings.h"
#include "PowerSupply.h"

#include <QDBusConnection>

// PowerDevil's idle settings for its current profile, from its files in
// the XDG configuration folders (the user's over the system's), in the
// format of the Plasma that runs: 5 (powermanagementprofilesrc) or 6
// (powerdevilrc).
namespace PlasmaSettingsReader {

IdleSettings read(QDBusConnection &systemBus, const PowerSupply &supply);

} // namespace PlasmaSettingsReader
