#pragma once

#include <QLatin1String>

// Where each inhibit service lives on the bus, and the calls we make of it.
class InhibitServices
{
public:
    InhibitServices() = delete;

    // GNOME's session manager, on the session bus: Inhibit(app_id, toplevel,
    // reason, flags) answers a cookie for Uninhibit.
    static constexpr QLatin1String gnomeSessionService{ "org.gnome.SessionManager" };
    static constexpr QLatin1String gnomeSessionPath{ "/org/gnome/SessionManager" };
    static constexpr QLatin1String gnomeSessionInterface{ "org.gnome.SessionManager" };
    static constexpr QLatin1String gnomeUninhibit{ "Uninhibit" };
    static constexpr uint gnomeSuspendFlag = 4;
    static constexpr uint gnomeIdleFlag = 8;

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

    // xfce4-power-manager's own name, beside the freedesktop one it serves
    // (Plasma serves that one too).
    static constexpr QLatin1String xfcePowerManagerService{ "org.xfce.PowerManager" };

    // KDE Plasma's power daemon, PowerDevil, on the session bus:
    // AddInhibition(policies, application, reason) answers a cookie for
    // ReleaseInhibition. Of its policies, interrupting the session (1) is
    // suspending, and changing the screen settings (4) dimming and turning
    // off the display.
    static constexpr QLatin1String policyAgentService{ "org.kde.Solid.PowerManagement.PolicyAgent" };
    static constexpr QLatin1String policyAgentPath{ "/org/kde/Solid/PowerManagement/PolicyAgent" };
    static constexpr QLatin1String policyAgentInterface{ "org.kde.Solid.PowerManagement.PolicyAgent" };
    static constexpr QLatin1String addInhibition{ "AddInhibition" };
    static constexpr QLatin1String releaseInhibition{ "ReleaseInhibition" };
    static constexpr uint policyInterruptSession = 1;
    static constexpr uint policyChangeScreenSettings = 4;

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

    static constexpr QLatin1String portalResponse{ "Response" };

    // Who we are in every inhibitor list: the application name for the
    // services that take one, the desktop entry's id for the session manager
    // (which finds our name and icon through it).
    static constexpr QLatin1String who{ "Wakora" };
    static constexpr QLatin1String appID{ "com.quorvel.WakoraApp" };
};
