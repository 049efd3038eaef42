#pragma once

#include "InhibitServices.h"

#include <QLatin1String>

// Where each desktop keeps its own list of who inhibits, on the session bus,
// and how we are known in those lists.
class InhibitorRegistries
{
public:
    InhibitorRegistries() = delete;

    // GNOME's session manager: GetInhibitors() answers object paths; each
    // object tells its app id, reason and flags.
    // The same service, object and flags we inhibit through.
    static constexpr QLatin1String gnomeSessionService = InhibitServices::gnomeSessionService;
    static constexpr QLatin1String gnomeSessionPath = InhibitServices::gnomeSessionPath;
    static constexpr QLatin1String gnomeSessionInterface = InhibitServices::gnomeSessionInterface;
    static constexpr QLatin1String gnomeInhibitorInterface{ "org.gnome.SessionManager.Inhibitor" };
    static constexpr uint gnomeSuspendFlag = InhibitServices::gnomeSuspendFlag;
    static constexpr uint gnomeIdleFlag = InhibitServices::gnomeIdleFlag;

    // KDE Plasma's power daemon: ListInhibitions() answers (application,
    // reason) pairs, HasInhibition(policies) whether any inhibition in
    // effect holds one of the policies. The same service we inhibit the
    // display through.
    static constexpr QLatin1String kdePolicyAgentService = InhibitServices::policyAgentService;
    static constexpr QLatin1String kdePolicyAgentPath = InhibitServices::policyAgentPath;
    static constexpr QLatin1String kdePolicyAgentInterface = InhibitServices::policyAgentInterface;
    static constexpr uint kdeSuspendPolicy = InhibitServices::policyInterruptSession;
    static constexpr uint kdeScreenPolicy = InhibitServices::policyChangeScreenSettings;

    // xfce4-power-manager: GetInhibitors() answers the application names. It
    // is asked under its own name, since Plasma owns
    // org.freedesktop.PowerManagement too, without such a list.
    static constexpr QLatin1String xfceService = InhibitServices::xfcePowerManagerService;
    static constexpr QLatin1String xfcePath = InhibitServices::powerManagementPath;
    static constexpr QLatin1String xfceInterface = InhibitServices::powerManagementInterface;

    // The bus itself: who owns a name, and which process that is.
    static constexpr QLatin1String busService{ "org.freedesktop.DBus" };
    static constexpr QLatin1String busPath{ "/org/freedesktop/DBus" };
    static constexpr QLatin1String busInterface{ "org.freedesktop.DBus" };

    // Our own entries: the app id we give gnome-session and the application
    // name we give the other services.
    static constexpr QLatin1String wakoraAppId = InhibitServices::appID;
    static constexpr QLatin1String wakoraName = InhibitServices::who;

    // How long one registry may take to answer one call.
    static constexpr int callTimeoutMs = 3000;
};
