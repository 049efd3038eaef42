#pragma once

// The desktops' real session daemons on MockBuses, each under an X server of
// the test's own (XvfbDisplay) with a private home: xfce4-power-manager and
// a minimal gnome-session. And a stand-in application: a small program with
// a desktop entry of its own that takes the inhibits it is told to and
// holds them until its input closes.
//
//     DesktopHome home;
//     DesktopDaemon daemon;
//     WAKORA_START_OR_SKIP(daemon.startXfcePowerManager(buses, display, home));

#include "EndProcess.h"
#include "GnomeSessionSupport.h"
#include "PrivateBus.h"
#include "XvfbDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

// Folders a desktop session writes to, in a temporary directory, and the
// data folder that holds the stand-in's and our own desktop entries.
class DesktopHome
{
public:
    DesktopHome()
    {
        for (const char *folder : { "config", "cache", "data", "runtime", "autostart", "share", "bin" })
            QDir().mkpath(path(QString::fromLatin1(folder)));
        QFile::setPermissions(
            path(QStringLiteral("runtime")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    bool isValid() const { return m_directory.isValid(); }
    QString path(const QString &relative) const { return m_directory.filePath(relative); }
    // Where desktop entries live: <data>/applications.
    QString dataDirectory() const { return path(QStringLiteral("share")); }

    bool write(const QString &relative, const QByteArray &contents, bool executable = false) const
    {
        const QString file = path(relative);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(contents) != contents.size())
            return false;
        out.close();
        return !executable || out.setPermissions(out.permissions() | QFileDevice::ExeOwner);
    }

    QProcessEnvironment environment(const QProcessEnvironment &base, const XvfbDisplay &display) const
    {
        QProcessEnvironment environment = base;
        environment.insert(QStringLiteral("DISPLAY"), display.name());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
        environment.insert(
            QStringLiteral("XDG_DATA_DIRS"), dataDirectory() + QStringLiteral(":/usr/local/share:/usr/share"));
        // No accessibility bus, no dconf: nothing outside the home.
        environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        environment.remove(QStringLiteral("SESSION_MANAGER"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return environment;
    }

private:
    QTemporaryDir m_directory;
};

// One real daemon, up once it owns its name on the session bus.
class DesktopDaemon
{
public:
    DesktopDaemon() = default;
    DesktopDaemon(const DesktopDaemon &) = delete;
    DesktopDaemon &operator=(const DesktopDaemon &) = delete;
    ~DesktopDaemon() { stop(); }

    // xfce4-power-manager on the buses' session bus. Empty on success.
    QString startXfcePowerManager(MockBuses &buses, const XvfbDisplay &display, const DesktopHome &home)
    {
        return start(QStringLiteral("xfce4-power-manager"), QStringLiteral("xfce4-power-manager"),
            { QStringLiteral("--no-daemon") }, home.environment(buses.environment(), display),
            buses.bus(MockBuses::session), QStringLiteral("org.xfce.PowerManager"), home);
    }

    // gnome-session with a session of our own that starts no component,
    // and no autostart folder but an empty one. Empty on success.
    QString startGnomeSession(MockBuses &buses, const XvfbDisplay &display, const DesktopHome &home)
    {
        if (const QString why = gnomeSessionRunsOnItsOwn(); !why.isEmpty())
            return why;
        if (!home.write(QStringLiteral("share/gnome-session/sessions/wakora-test.session"),
                "[GNOME Session]\nName=Wakora test\nRequiredComponents=\n"))
            return QStringLiteral("cannot write the session definition");
        return start(QStringLiteral("/usr/libexec/gnome-session-binary"), QStringLiteral("gnome-session-bin"),
            { QStringLiteral("--builtin"), QStringLiteral("--session=wakora-test"),
                QStringLiteral("--disable-acceleration-check"), QStringLiteral("--autostart"),
                home.path(QStringLiteral("autostart")) },
            home.environment(buses.environment(), display), buses.bus(MockBuses::session),
            QStringLiteral("org.gnome.SessionManager"), home);
    }

    void stop() { endProcess(m_process, 3000); }

    QString log() const
    {
        QFile file(m_logPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QString start(const QString &program, const QString &package, const QStringList &arguments,
        const QProcessEnvironment &environment, PrivateBus &bus, const QString &busName, const DesktopHome &home)
    {
        if (QStandardPaths::findExecutable(program).isEmpty())
            return QStringLiteral("not installed: %1 (Debian: %2)").arg(program, package);
        m_logPath = home.path(QFileInfo(program).fileName() + QStringLiteral(".log"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_logPath);
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(5000))
            return QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString());
        QDBusConnectionInterface *daemon = bus.connection().interface();
        const QDeadlineTimer deadline(20000);
        while (!daemon->isServiceRegistered(busName).value()) {
            if (m_process.state() != QProcess::Running || deadline.hasExpired())
                return QStringLiteral("%1 did not take %2:\n%3").arg(program, busName, log());
            QThread::msleep(50);
        }
        return QString();
    }

    QProcess m_process;
    QString m_logPath;
};

// The stand-in application. Its program is home/bin/wakora-standin, its
// entry org.example.StandIn ("Stand-in Player"). The same program as
// home/bin/wakora-window stands in for our window program, which our own
// entry (com.quorvel.WakoraApp, "Wakora") runs as the installed one does:
// while it runs, matching our entries through that entry would find it
// rather than the agent. Arguments, repeated:
//   gnome APP_ID REASON FLAGS     org.gnome.SessionManager.Inhibit
//   freedesktop NAME REASON       org.freedesktop.PowerManagement.Inhibit
class StandInApplication
{
public:
    StandInApplication() = default;
    StandInApplication(const StandInApplication &) = delete;
    StandInApplication &operator=(const StandInApplication &) = delete;
    ~StandInApplication() { stop(); }

    static QString program(const DesktopHome &home, const QString &name = QStringLiteral("wakora-standin"))
    {
        return home.path(QStringLiteral("bin/") + name);
    }

    static bool install(const DesktopHome &home)
    {
        const QByteArray script = "#!/usr/bin/python3\n"
                                  "import sys, dbus\n"
                                  "bus = dbus.SessionBus()\n"
                                  "args = sys.argv[1:]\n"
                                  "while args:\n"
                                  "    kind = args.pop(0)\n"
                                  "    if kind == 'gnome':\n"
                                  "        app, reason, flags = args.pop(0), args.pop(0), int(args.pop(0))\n"
                                  "        bus.get_object('org.gnome.SessionManager', '/org/gnome/SessionManager')"
                                  ".Inhibit(app, dbus.UInt32(0), reason, dbus.UInt32(flags), "
                                  "dbus_interface='org.gnome.SessionManager')\n"
                                  "    elif kind == 'freedesktop':\n"
                                  "        app, reason = args.pop(0), args.pop(0)\n"
                                  "        bus.get_object('org.freedesktop.PowerManagement', "
                                  "'/org/freedesktop/PowerManagement/Inhibit').Inhibit(app, reason, "
                                  "dbus_interface='org.freedesktop.PowerManagement.Inhibit')\n"
                                  "print('held', flush=True)\n"
                                  "sys.stdin.read()\n";
        return home.write(QStringLiteral("bin/wakora-standin"), script, true)
            && home.write(QStringLiteral("bin/wakora-window"), script, true)
            && home.write(QStringLiteral("share/applications/org.example.StandIn.desktop"),
                "[Desktop Entry]\nType=Application\nName=Stand-in Player\nIcon=media-playback-start\nExec="
                    + program(home).toUtf8() + " %U\n")
            && home.write(QStringLiteral("share/applications/com.quorvel.WakoraApp.desktop"),
                "[Desktop Entry]\nType=Application\nName=Wakora\nExec="
                    + program(home, QStringLiteral("wakora-window")).toUtf8() + "\n");
    }

    // Empty once every inhibit is held.
    QString start(const DesktopHome &home, const QProcessEnvironment &environment, const QStringList &arguments,
        const QString &name = QStringLiteral("wakora-standin"))
    {
        m_process.setProcessEnvironment(environment);
        m_process.start(program(home, name), arguments);
        if (!m_process.waitForStarted(5000))
            return QStringLiteral("the stand-in did not start: %1").arg(m_process.errorString());
        QByteArray printed;
        const QDeadlineTimer deadline(15000);
        while (!printed.contains("held\n") && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(100);
            printed += m_process.readAllStandardOutput();
        }
        if (!printed.contains("held\n"))
            return QStringLiteral("the stand-in did not take its inhibits: %1")
                .arg(QString::fromUtf8(printed + m_process.readAllStandardError()));
        return QString();
    }

    qint32 pid() const { return qint32(m_process.processId()); }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            endProcess(m_process);
    }

private:
    QProcess m_process;
};
