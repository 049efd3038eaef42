#pragma once

#include <QLatin1String>

// Where each desktop keeps its own list of who inhibits, on the session bus,
// and how we are known in those lists.
class InhibitorRegistries
{
public:
    InhibitorRegistries() = delete;

    // GNOME's session manager: GetInhibitors() answers object paths; each
    // object tells its app id, reason and flags.
    static constexpr QLatin1String gnomeSessionService{ "org.gnome.SessionManager" };
    static constexpr QLatin1String gnomeSessionPath{ "/org/gnome/SessionManager" };
    static constexpr QLatin1String gnomeSessionInterface{ "org.gnome.SessionManager" };
    static constexpr QLatin1String gnomeInhibitorInterface{ "org.gnome.SessionManager.Inhibitor" };
    static constexpr uint gnomeSuspendFlag = 4;
    static constexpr uint gnomeIdleFlag = 8;

    // KDE Plasma's power daemon: ListInhibitions() answers (application, reason) pairs.
    static constexpr QLatin1String kdePolicyAgentService{ "org.kde.Solid.PowerManagement.PolicyAgent" };
    static constexpr QLatin1String kdePolicyAgentPath{ "/org/kde/Solid/PowerManagement/PolicyAgent" };
    static constexpr QLatin1String kdePolicyAgentInterface{ "org.kde.Solid.PowerManagement.PolicyAgent" };

    // xfce4-power-manager: GetInhibitors() answers the application names. It
    // is asked under its own name, since Plasma owns
    // org.freedesktop.PowerManagement too, without such a list.
    static constexpr QLatin1String xfceService{ "org.xfce.PowerManager" };
    static constexpr QLatin1String xfcePath{ "/org/freedesktop/PowerManagement/Inhibit" };
    static constexpr QLatin1String xfceInterface{ "org.freedesktop.PowerManagement.Inhibit" };

    // The bus itself: who owns a name, and which process that is.
    static constexpr QLatin1String busService{ "org.freedesktop.DBus" };
    static constexpr QLatin1String busPath{ "/org/freedesktop/DBus" };
    static constexpr QLatin1String busInterface{ "org.freedesktop.DBus" };

    // Our own entries: the app id we give gnome-session and the application
    // name we give the other services.
    static constexpr QLatin1String wakoraAppId{ "com.quorvel.WakoraApp" };
    static constexpr QLatin1String wakoraName{ "Wakora" };

    // How long one registry may take to answer one call.
    static constexpr int callTimeoutMs = 3000;
};
