#pragma once

#include <QLatin1String>

// Where each inhibit service lives on the bus, and the calls we make of it.
class InhibitServices
{
public:
    InhibitServices() = delete;

    // The desktop portal, on the session bus. Inhibit("", flags, {reason})
    // answers a request path; closing that request ends the inhibit.
    static constexpr QLatin1String portalService{ "org.freedesktop.portal.Desktop" };
    static constexpr QLatin1String portalPath{ "/org/freedesktop/portal/desktop" };
    static constexpr QLatin1String portalInterface{ "org.freedesktop.portal.Inhibit" };
    static constexpr QLatin1String portalRequestInterface{ "org.freedesktop.portal.Request" };
    static constexpr uint portalSuspendFlag = 4;
    static constexpr uint portalIdleFlag = 8;

    // KDE Plasma's (and Xfce's) power manager, on the session bus: system sleep.
    static constexpr QLatin1String powerManagementService{ "org.freedesktop.PowerManagement" };
    static constexpr QLatin1String powerManagementPath{ "/org/freedesktop/PowerManagement/Inhibit" };
    static constexpr QLatin1String powerManagementInterface{ "org.freedesktop.PowerManagement.Inhibit" };

    // The screen saver of GNOME and KDE Plasma, on the session bus: the display.
    static constexpr QLatin1String screenSaverService{ "org.freedesktop.ScreenSaver" };
    static constexpr QLatin1String screenSaverPath{ "/org/freedesktop/ScreenSaver" };
    static constexpr QLatin1String screenSaverInterface{ "org.freedesktop.ScreenSaver" };

    // logind, on the system bus: Inhibit(what, who, why, mode) answers the lock's fd.
    static constexpr QLatin1String logindService{ "org.freedesktop.login1" };
    static constexpr QLatin1String logindPath{ "/org/freedesktop/login1" };
    static constexpr QLatin1String logindInterface{ "org.freedesktop.login1.Manager" };

    static constexpr QLatin1String inhibit{ "Inhibit" };
    static constexpr QLatin1String unInhibit{ "UnInhibit" };
    static constexpr QLatin1String close{ "Close" };

    // Who we are in every inhibitor list.
    static constexpr QLatin1String who{ "Wakora" };
};
