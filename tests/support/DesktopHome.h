#pragma once

// A home of its own for the desktop daemons a test runs: HOME and the XDG
// folders live in a temporary directory, so nothing a daemon writes
// (settings, caches, runtime sockets) lands in the developer's own, and
// nothing of the developer's session leaks into the daemon.

#include "PrivateBus.h"
#include "XvfbDisplay.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

class DesktopHome
{
public:
    DesktopHome() = default;
    DesktopHome(const DesktopHome &) = delete;
    DesktopHome &operator=(const DesktopHome &) = delete;

    bool isValid() const { return m_directory.isValid(); }
    QString filePath(const QString &name) const { return m_directory.filePath(name); }

    // What a daemon of `desktop` ("GNOME", "XFCE") sees: the private buses,
    // the test's X server and this home. GSettings stays in memory, and the
    // accessibility bridge stays off: there is no accessibility bus here.
    QProcessEnvironment environment(const MockBuses &buses, const XvfbDisplay &display, const QString &desktop) const
    {
        QProcessEnvironment environment = buses.environment();
        for (const char *name : { "SESSION_MANAGER", "XDG_SESSION_ID", "XDG_SESSION_PATH", "XDG_SEAT_PATH",
                 "XDG_SESSION_TYPE", "WAYLAND_DISPLAY", "XAUTHORITY", "DESKTOP_SESSION", "GNOME_DESKTOP_SESSION_ID" })
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("DISPLAY"), display.name());
        environment.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), desktop);
        environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        environment.insert(QStringLiteral("GIO_USE_VFS"), QStringLiteral("local"));
        environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        environment.insert(QStringLiteral("HOME"), folder(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), folder(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), folder(QStringLiteral("cache")));
        const QString runtime = folder(QStringLiteral("runtime"));
        // GLib refuses a runtime folder that others may read.
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        return environment;
    }

    // A folder inside the home, made when missing.
    QString folder(const QString &name) const
    {
        const QString path = m_directory.filePath(name);
        QDir().mkpath(path);
        return path;
    }

private:
    QTemporaryDir m_directory;
};
