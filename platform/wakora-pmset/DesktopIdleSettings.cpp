#include "DesktopIdleSettings.h"

#include "BusCalls.h"
#include "GnomeSettingsReader.h"
#include "PlasmaSettingsReader.h"
#include "PowerSupply.h"
#include "SessionDesktop.h"
#include "XfconfReader.h"

namespace {

// Only a bus the environment names: a session bus found any other way
// (autolaunch) would start one where there is no session.
std::optional<QDBusConnection> sessionBus()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return std::nullopt;
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() ? std::optional(bus) : std::nullopt;
}

SessionDesktop desktopOfBus(QDBusConnection &bus)
{
    const QDBusMessage reply = BusCalls::call(bus, QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return SessionDesktop::none;
    return SessionDesktops::fromBusNames(reply.arguments().constFirst().toStringList());
}

} // namespace

namespace DesktopIdleSettings {

std::optional<IdleSettings> read(QDBusConnection &systemBus)
{
    const QString named = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    SessionDesktop desktop = SessionDesktops::fromCurrentDesktop(named);
    // The session bus only where it tells the desktop or holds its settings.
    std::optional<QDBusConnection> session;
    if (named.isEmpty() || desktop == SessionDesktop::xfce)
        session = sessionBus();
    if (named.isEmpty() && session)
        desktop = desktopOfBus(*session);
    if (desktop == SessionDesktop::none)
        return std::nullopt;

    const PowerSupply supply = PowerSupply::read(systemBus);
    switch (desktop) {
    case SessionDesktop::gnome:
        return GnomeIdleSettings::fromValues(GnomeSettingsReader::read(supply.onBattery));
    case SessionDesktop::plasma:
        return PlasmaSettingsReader::read(systemBus, supply);
    case SessionDesktop::xfce:
        return session ? XfconfReader::read(*session, supply.onBattery) : IdleSettings{};
    case SessionDesktop::none:
        break;
    }
    return std::nullopt;
}

} // namespace DesktopIdleSettings
