#pragma once

// The real gnome-session (org.gnome.SessionManager) and the real
// gnome-screensaver (org.gnome.ScreenSaver) on MockBuses, under Xvfb: a
// session of our own with no components and an empty autostart folder, so
// the session manager runs alone instead of starting the machine's
// autostart programs. gnome-session takes its own logind locks on the
// system bus, so start the logind mock first to see them.
//
// The screensaver belongs here because xdg-desktop-portal-gtk uses
// gnome-session for inhibits only when both names have owners at its start.
// gnome-session also keeps an XSMP socket in /tmp/.ICE-unix (libICE's fixed
// folder) while it runs; it removes it on SIGTERM.
//
//     RealGnomeSession gnome;
//     WAKORA_START_OR_SKIP(gnome.start(buses, display));
//     gnome.inhibitors() ... on failure: gnome.printLogs();

#include "DaemonProcess.h"
#include "DesktopHome.h"
#include "GnomeSessionSupport.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <optional>

// One entry of gnome-session's GetInhibitors, as its Inhibitor object tells it.
struct GnomeInhibitor {
    QString appId;
    QString reason;
    uint flags = 0;
    uint toplevelXid = 0;

    bool operator==(const GnomeInhibitor &) const = default;
};

class RealGnomeSession
{
public:
    static inline const QString service = QStringLiteral("org.gnome.SessionManager");
    static inline const QString path = QStringLiteral("/org/gnome/SessionManager");
    static inline const QString interface = QStringLiteral("org.gnome.SessionManager");

    RealGnomeSession() = default;
    RealGnomeSession(const RealGnomeSession &) = delete;
    RealGnomeSession &operator=(const RealGnomeSession &) = delete;
    ~RealGnomeSession() { stop(); }

    // Empty once both daemons own their names, else why not.
    QString start(MockBuses &buses, const XvfbDisplay &display)
    {
        if (!m_home.isValid())
            return QStringLiteral("no temporary directory");
        if (const QString why = gnomeSessionRunsOnItsOwn(); !why.isEmpty())
            return why;
        m_bus = &buses.bus(MockBuses::session);
        const QString sessions = m_home.folder(QStringLiteral("share/gnome-session/sessions"));
        QFile session(sessions + QStringLiteral("/wakora-test.session"));
        if (!session.open(QIODevice::WriteOnly)
            || session.write("[GNOME Session]\nName=Wakora test\nRequiredComponents=\n") < 0)
            return QStringLiteral("cannot write %1").arg(session.fileName());
        session.close();

        QProcessEnvironment environment = m_home.environment(buses, display, QStringLiteral("GNOME"));
        environment.insert(QStringLiteral("XDG_DATA_DIRS"),
            m_home.filePath(QStringLiteral("share")) + QLatin1Char(':')
                + environment.value(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral("/usr/local/share:/usr/share")));
        // The binary itself: /usr/bin/gnome-session is a wrapper that asks
        // gsettings for the locale and may re-run itself in a login shell.
        const QStringList arguments{ QStringLiteral("--builtin"), QStringLiteral("--session=wakora-test"),
            QStringLiteral("--disable-acceleration-check"),
            QStringLiteral("--autostart=") + m_home.folder(QStringLiteral("autostart")), QStringLiteral("--debug") };
        QString why = m_manager.start(QStringLiteral("/usr/libexec/gnome-session-binary"), arguments, environment,
            m_home.filePath(QStringLiteral("gnome-session.log")), m_bus->connection(), service,
            QStringLiteral("gnome-session-bin"));
        if (!why.isEmpty())
            return why;
        return m_screenSaver.start(QStringLiteral("gnome-screensaver"), {}, environment,
            m_home.filePath(QStringLiteral("gnome-screensaver.log")), m_bus->connection(),
            QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("gnome-screensaver"));
    }

    // The screensaver first: it is a client of the session.
    void stop()
    {
        m_screenSaver.stop();
        m_manager.stop();
    }

    // Every inhibitor gnome-session holds; absent when a call fails.
    std::optional<QList<GnomeInhibitor>> inhibitors()
    {
        const QDBusMessage reply = call(path, interface, QStringLiteral("GetInhibitors"), {});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        QList<QDBusObjectPath> paths;
        reply.arguments().value(0).value<QDBusArgument>() >> paths;
        QList<GnomeInhibitor> list;
        const QString inhibitor = QStringLiteral("org.gnome.SessionManager.Inhibitor");
        for (const QDBusObjectPath &object : std::as_const(paths)) {
            const QDBusMessage appId = call(object.path(), inhibitor, QStringLiteral("GetAppId"), {});
            const QDBusMessage reason = call(object.path(), inhibitor, QStringLiteral("GetReason"), {});
            const QDBusMessage flags = call(object.path(), inhibitor, QStringLiteral("GetFlags"), {});
            const QDBusMessage xid = call(object.path(), inhibitor, QStringLiteral("GetToplevelXid"), {});
            for (const QDBusMessage *answer : { &appId, &reason, &flags, &xid })
                if (answer->type() != QDBusMessage::ReplyMessage)
                    return std::nullopt;
            list.append({ appId.arguments().value(0).toString(), reason.arguments().value(0).toString(),
                flags.arguments().value(0).toUInt(), xid.arguments().value(0).toUInt() });
        }
        return list;
    }

    std::optional<bool> isInhibited(uint flags)
    {
        const QDBusMessage reply = call(path, interface, QStringLiteral("IsInhibited"), { flags });
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        return reply.arguments().value(0).toBool();
    }

    qint64 startupMs() const { return m_manager.startupMs(); }
    qint64 screenSaverStartupMs() const { return m_screenSaver.startupMs(); }

    void printLogs() const
    {
        m_manager.printLog();
        m_screenSaver.printLog();
    }

private:
    QDBusMessage call(const QString &object, const QString &on, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, object, on, method);
        message.setArguments(arguments);
        return m_bus->connection().call(message, QDBus::Block, 5000);
    }

    DesktopHome m_home;
    PrivateBus *m_bus = nullptr;
    DaemonProcess m_manager{ QStringLiteral("gnome-session") };
    DaemonProcess m_screenSaver{ QStringLiteral("gnome-screensaver") };
};
