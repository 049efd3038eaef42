#pragma once

// Mocks of the services Wakora inhibits through, on MockBuses: logind
// (python-dbusmock's template), the desktop portal's Inhibit, and the
// session's cookie services (org.freedesktop.ScreenSaver and
// org.freedesktop.PowerManagement.Inhibit). Each desktop mock keeps what is
// held in `self.held` and lists it through an extra method, Held.

#include "PrivateBus.h"

#include <QDBusObjectPath>

struct HeldInhibit {
    QString handle; // cookie or request path
    QString who; // the application name given (empty for the portal)
    QString why;
    uint flags = 0; // portal only

    bool operator==(const HeldInhibit &) const = default;
};

namespace InhibitMocks {

inline const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString portalInterface = QStringLiteral("org.freedesktop.portal.Inhibit");
inline const QString screenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
inline const QString screenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
inline const QString screenSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");
inline const QString powerService = QStringLiteral("org.freedesktop.PowerManagement");
inline const QString powerPath = QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");
inline const QString powerInterface = QStringLiteral("org.freedesktop.PowerManagement.Inhibit");
inline const QString logindService = QStringLiteral("org.freedesktop.login1");
inline const QString logindPath = QStringLiteral("/org/freedesktop/login1");
inline const QString logindInterface = QStringLiteral("org.freedesktop.login1.Manager");

// Inhibit(application, reason) -> cookie; UnInhibit(cookie) fails for a cookie it did not hand out.
// `answerAfter` seconds pass before Inhibit answers (the mock does nothing else meanwhile).
inline DBusMock *startCookieService(MockBuses &buses, const QString &service, const QString &path,
    const QString &interface, QString *error, double answerAfter = 0)
{
    DBusMock *mock = buses.startObject(MockBuses::session, service, path, interface, error);
    if (!mock)
        return nullptr;
    const bool ok = mock->addMethod(interface, QStringLiteral("Inhibit"), QStringLiteral("ss"), QStringLiteral("u"),
                        QStringLiteral("import time\ntime.sleep(%1)\n"
                                       "self.held = getattr(self, 'held', {})\n"
                                       "self.cookie = getattr(self, 'cookie', 4000) + 7\n"
                                       "self.held[self.cookie] = (str(args[0]), str(args[1]))\n"
                                       "ret = dbus.UInt32(self.cookie)")
                            .arg(answerAfter))
        && mock->addMethod(interface, QStringLiteral("UnInhibit"), QStringLiteral("u"), QString(),
            QStringLiteral("del getattr(self, 'held', {})[int(args[0])]"))
        && mock->addMethod(interface, QStringLiteral("Held"), QString(), QStringLiteral("a(sssu)"),
            QStringLiteral("ret = dbus.Array([(str(c), w[0], w[1], dbus.UInt32(0)) "
                           "for c, w in getattr(self, 'held', {}).items()], signature='(sssu)')"));
    if (!ok)
        *error = QStringLiteral("cannot build the mock of %1").arg(service);
    return ok ? mock : nullptr;
}

// Inhibit("", flags, {reason}) -> a request path; Request.Close on it ends the inhibit.
// Without `inhibitInterface` the portal runs but does not offer Inhibit at all.
// As xdg-desktop-portal does, it answers the path and then the request's
// Response: 0 once the inhibit is held, or the `refusal` code of a desktop
// backend that cannot inhibit; a `silent` portal never answers. Its Inhibit
// answers after `answerAfter` seconds. Unlike the real portal, the mock
// cannot put the request at the path the caller's token names (it does not
// know the caller), so the caller follows the path only once it has the
// reply: the Response comes 100 ms later, to leave time for that.
inline DBusMock *startPortal(MockBuses &buses, QString *error, bool inhibitInterface = true, uint refusal = 0,
    bool silent = false, double answerAfter = 0)
{
    DBusMock *mock = buses.startObject(MockBuses::session, portalService, portalPath,
        inhibitInterface ? portalInterface : QStringLiteral("org.freedesktop.portal.Settings"), error);
    if (!mock || !inhibitInterface)
        return mock;
    const QString respond
        = QStringLiteral("def respond(path, code):\n"
                         "    objects[path].EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}', "
                         "[dbus.UInt32(code), dbus.Dictionary({}, signature='sv')])\n"
                         "    return False\n"
                         "from gi.repository import GLib\n");
    const bool ok = mock->addProperty(portalInterface, QStringLiteral("version"), QVariant::fromValue(uint(3)))
        && mock->addMethod(portalInterface, QStringLiteral("Inhibit"), QStringLiteral("sua{sv}"), QStringLiteral("o"),
            respond
                + QStringLiteral("import time\ntime.sleep(%3)\n"
                                 "self.held = getattr(self, 'held', {})\n"
                                 "self.count = getattr(self, 'count', 0) + 1\n"
                                 "path = '/org/freedesktop/portal/desktop/request/1_1/wakora%d' % self.count\n"
                                 "self.AddObject(path, 'org.freedesktop.portal.Request', {}, [('Close', '', '', "
                                 "'objects[\"/org/freedesktop/portal/desktop\"].held.pop(self.path)')])\n"
                                 "if not %1:\n"
                                 "    self.held[path] = (int(args[1]), str(args[2].get('reason', '')))\n"
                                 "if not %2:\n"
                                 "    GLib.timeout_add(100, respond, path, %1)\n"
                                 "ret = dbus.ObjectPath(path)")
                      .arg(refusal)
                      .arg(silent ? 1 : 0)
                      .arg(answerAfter))
        && mock->addMethod(portalInterface, QStringLiteral("Held"), QString(), QStringLiteral("a(sssu)"),
            QStringLiteral("ret = dbus.Array([(p, '', h[1], dbus.UInt32(h[0])) "
                           "for p, h in getattr(self, 'held', {}).items()], signature='(sssu)')"));
    if (!ok)
        *error = QStringLiteral("cannot build the portal mock");
    return ok ? mock : nullptr;
}

inline const QString gnomeSessionService = QStringLiteral("org.gnome.SessionManager");
inline const QString gnomeSessionPath = QStringLiteral("/org/gnome/SessionManager");
inline const QString gnomeSessionInterface = QStringLiteral("org.gnome.SessionManager");

// GNOME's session manager: Inhibit(app_id, toplevel, reason, flags) -> cookie,
// Uninhibit(cookie). Held lists (cookie, app_id, reason, flags).
inline DBusMock *startGnomeSession(MockBuses &buses, QString *error)
{
    DBusMock *mock
        = buses.startObject(MockBuses::session, gnomeSessionService, gnomeSessionPath, gnomeSessionInterface, error);
    if (!mock)
        return nullptr;
    const bool ok
        = mock->addMethod(gnomeSessionInterface, QStringLiteral("Inhibit"), QStringLiteral("susu"), QStringLiteral("u"),
              QStringLiteral("self.held = getattr(self, 'held', {})\n"
                             "self.cookie = getattr(self, 'cookie', 100) + 3\n"
                             "self.held[self.cookie] = (str(args[0]), str(args[2]), int(args[3]))\n"
                             "ret = dbus.UInt32(self.cookie)"))
        && mock->addMethod(gnomeSessionInterface, QStringLiteral("Uninhibit"), QStringLiteral("u"), QString(),
            QStringLiteral("del getattr(self, 'held', {})[int(args[0])]"))
        && mock->addMethod(gnomeSessionInterface, QStringLiteral("Held"), QString(), QStringLiteral("a(sssu)"),
            QStringLiteral("ret = dbus.Array([(str(c), h[0], h[1], dbus.UInt32(h[2])) "
                           "for c, h in getattr(self, 'held', {}).items()], signature='(sssu)')"));
    if (!ok)
        *error = QStringLiteral("cannot build the session manager mock");
    return ok ? mock : nullptr;
}

// What a desktop mock holds right now.
inline QList<HeldInhibit> heldBy(DBusMock *mock, const QString &interface)
{
    QList<HeldInhibit> held;
    const QDBusMessage reply = mock->call(mock->mainPath(), interface, QStringLiteral("Held"), {});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning("Held failed: %s", qUtf8Printable(reply.errorMessage()));
        return held;
    }
    const QDBusArgument array = reply.arguments().value(0).value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        HeldInhibit inhibit;
        array.beginStructure();
        array >> inhibit.handle >> inhibit.who >> inhibit.why >> inhibit.flags;
        array.endStructure();
        held.append(inhibit);
    }
    array.endArray();
    return held;
}

struct LogindInhibitor {
    QString what, who, why, mode;
    uint uid = 0, pid = 0;
};

// Python for a systemd mock's KillUnit: makes the logind mock read the lid
// settings of the drop-in folder of `dropInPath` again, as logind does on
// SIGHUP: every `*.conf` there in the order of their names, the later ones
// over the earlier, with logind's own defaults for what they leave out
// (HandleLidSwitchExternalPower unset, which logind reports as "").
inline QString logindReload(const QString &dropInPath, const QString &dockedDefault)
{
    return QStringLiteral("import os\n"
                          "values = {'HandleLidSwitch': 'suspend', 'HandleLidSwitchExternalPower': '', "
                          "'HandleLidSwitchDocked': '%2'}\n"
                          "folder = os.path.dirname('%1')\n"
                          "names = sorted(n for n in os.listdir(folder) if n.endswith('.conf')) "
                          "if os.path.isdir(folder) else []\n"
                          "for name in names:\n"
                          "    for line in open(os.path.join(folder, name)):\n"
                          "        key, sep, value = line.strip().partition('=')\n"
                          "        if sep and key in values:\n"
                          "            values[key] = value\n"
                          "bus = dbus.bus.BusConnection(os.environ['DBUS_SYSTEM_BUS_ADDRESS'])\n"
                          "bus.get_object('org.freedesktop.login1', '/org/freedesktop/login1').UpdateProperties("
                          "'org.freedesktop.login1.Manager', values, dbus_interface='org.freedesktop.DBus.Mock')\n"
                          "bus.close()")
        .arg(dropInPath, dockedDefault);
}

inline DBusMock *startLogind(MockBuses &buses, QString *error)
{
    return buses.startTemplate(MockBuses::system, QStringLiteral("logind"), logindService, logindPath, error);
}

// logind's inhibitor list as the mock keeps it; absent when the call fails.
inline std::optional<QList<LogindInhibitor>> logindInhibitors(DBusMock *logind)
{
    const QDBusMessage reply = logind->call(logindPath, logindInterface, QStringLiteral("ListInhibitors"), {});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    QList<LogindInhibitor> list;
    const QDBusArgument array = reply.arguments().value(0).value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        LogindInhibitor inhibitor;
        array.beginStructure();
        array >> inhibitor.what >> inhibitor.who >> inhibitor.why >> inhibitor.mode >> inhibitor.uid >> inhibitor.pid;
        array.endStructure();
        list.append(inhibitor);
    }
    array.endArray();
    return list;
}

} // namespace InhibitMocks
