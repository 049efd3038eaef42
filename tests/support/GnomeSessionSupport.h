#pragma once

#include <QProcess>
#include <QString>

// gnome-session 47 and later dropped --builtin: they run only as units of a
// systemd user manager, which a test on private buses cannot give them
// (Debian 13 ships 48). Empty when this one runs on its own, else why not,
// worded as a missing tool so that the test is skipped rather than failed.
inline QString gnomeSessionRunsOnItsOwn()
{
    QProcess help;
    help.setProcessChannelMode(QProcess::MergedChannels);
    help.start(QStringLiteral("/usr/libexec/gnome-session-binary"), { QStringLiteral("--help-all") });
    if (!help.waitForFinished(10000))
        return QStringLiteral("not installed: /usr/libexec/gnome-session-binary (Debian: gnome-session-bin)");
    if (!help.readAll().contains("--builtin"))
        return QStringLiteral("not installed: a gnome-session that runs without a systemd user manager "
                              "(--builtin, gnome-session 46 and older)");
    return QString();
}
