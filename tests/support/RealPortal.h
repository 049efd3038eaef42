#pragma once

// The real xdg-desktop-portal with the real xdg-desktop-portal-gtk backend
// on MockBuses, under Xvfb. The portal reads its backends from a copy of
// gtk.portal in a temporary folder (XDG_DESKTOP_PORTAL_DIR) and picks it for
// XDG_CURRENT_DESKTOP=GNOME by its UseIn= line.
//
// The gtk backend decides once, when it starts, where its inhibits go:
// to gnome-session when org.gnome.SessionManager and org.gnome.ScreenSaver
// both have owners (start RealGnomeSession first), else to
// org.freedesktop.ScreenSaver, refusing every flag but idle (8).
//
//     RealPortal portal;
//     WAKORA_START_OR_SKIP(portal.start(buses, display));
//     ... on failure: portal.printLogs();

#include "DaemonProcess.h"
#include "DesktopHome.h"

class RealPortal
{
public:
    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString inhibitInterface = QStringLiteral("org.freedesktop.portal.Inhibit");
    static inline const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
    static inline const QString backendService = QStringLiteral("org.freedesktop.impl.portal.desktop.gtk");

    RealPortal() = default;
    RealPortal(const RealPortal &) = delete;
    RealPortal &operator=(const RealPortal &) = delete;
    ~RealPortal() { stop(); }

    // Empty once the backend and then the portal own their names, else why not.
    QString start(MockBuses &buses, const XvfbDisplay &display, const QString &desktop = QStringLiteral("GNOME"))
    {
        if (!m_home.isValid())
            return QStringLiteral("no temporary directory");
        const QString gtkPortal = QStandardPaths::locate(
            QStandardPaths::GenericDataLocation, QStringLiteral("xdg-desktop-portal/portals/gtk.portal"));
        if (gtkPortal.isEmpty())
            return QStringLiteral("not installed: gtk.portal (Debian: xdg-desktop-portal-gtk)");
        const QString portals = m_home.folder(QStringLiteral("portals"));
        if (!QFile::copy(gtkPortal, portals + QStringLiteral("/gtk.portal")))
            return QStringLiteral("cannot copy %1 to %2").arg(gtkPortal, portals);

        QProcessEnvironment environment = m_home.environment(buses, display, desktop);
        environment.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), portals);
        QDBusConnection bus = buses.bus(MockBuses::session).connection();
        // -v: both log what they chose ("Using org.gnome.SessionManager for inhibit").
        QString why = m_backend.start(programOf(backendService, QStringLiteral("xdg-desktop-portal-gtk")),
            { QStringLiteral("-v") }, environment, m_home.filePath(QStringLiteral("xdg-desktop-portal-gtk.log")), bus,
            backendService, QStringLiteral("xdg-desktop-portal-gtk"));
        if (!why.isEmpty())
            return why;
        return m_portal.start(programOf(service, QStringLiteral("xdg-desktop-portal")), { QStringLiteral("-v") },
            environment, m_home.filePath(QStringLiteral("xdg-desktop-portal.log")), bus, service,
            QStringLiteral("xdg-desktop-portal"));
    }

    void stop()
    {
        m_portal.stop();
        m_backend.stop();
    }

    // Where the portal puts the request of a call with `token` as its
    // handle_token option: known before the call, so that a caller can
    // listen for its Response before the portal can send it.
    static QString requestPath(const QDBusConnection &caller, const QString &token)
    {
        QString sender = caller.baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    }

    qint64 startupMs() const { return m_portal.startupMs(); }
    qint64 backendStartupMs() const { return m_backend.startupMs(); }

    void printLogs() const
    {
        m_backend.printLog();
        m_portal.printLog();
    }

private:
    static QString programOf(const QString &busName, const QString &fallback)
    {
        const QString program = DaemonProcess::activatedProgram(busName);
        return program.isEmpty() ? fallback : program;
    }

    DesktopHome m_home;
    DaemonProcess m_backend{ QStringLiteral("xdg-desktop-portal-gtk") };
    DaemonProcess m_portal{ QStringLiteral("xdg-desktop-portal") };
};
