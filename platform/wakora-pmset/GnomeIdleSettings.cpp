#include "GnomeIdleSettings.h"

namespace GnomeIdleSettings {

IdleSettings fromValues(const GnomeIdleValues &values)
{
    IdleSettings settings;
    if (values.sleepTimeoutSeconds && values.sleepType) {
        // Only these put the machine to sleep; "nothing", "blank", "shutdown",
        // "logout" and "interactive" leave it awake or end the session instead.
        const bool sleeps = *values.sleepType == u"suspend" || *values.sleepType == u"hibernate";
        settings.sleepMinutes = sleeps ? IdleSettings::minutesRoundedUp(*values.sleepTimeoutSeconds) : 0;
    }
    if (values.idleDelaySeconds)
        settings.displaySleepMinutes = IdleSettings::minutesRoundedUp(*values.idleDelaySeconds);
    return settings;
}

} // namespace GnomeIdleSettings
