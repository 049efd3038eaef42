#pragma once

#include "IdleSettings.h"

#include <QString>

#include <optional>

// GNOME's own idle settings, as gnome-settings-daemon's power plugin and
// gnome-session read them; each absent when its schema or key is missing.
struct GnomeIdleValues {
    // org.gnome.settings-daemon.plugins.power sleep-inactive-{ac,battery}-timeout, seconds
    std::optional<qint64> sleepTimeoutSeconds;
    // sleep-inactive-{ac,battery}-type: "suspend", "hibernate", "nothing", "shutdown", ...
    std::optional<QString> sleepType;
    // org.gnome.desktop.session idle-delay, seconds (0 = never)
    std::optional<qint64> idleDelaySeconds;
};

namespace GnomeIdleSettings {

IdleSettings fromValues(const GnomeIdleValues &values);

} // namespace GnomeIdleSettings
