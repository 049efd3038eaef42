#pragma once

// A program of the test's own that holds inhibits as an application does,
// from its own bus connections, until its input closes.
//
//     InhibitHolder video;
//     QCOMPARE(video.start(scriptPath, buses.environment(), { "policy", "4", "Firefox", "Playing video" }), QString());

#include "EndProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// A program that holds what it is told to until its input closes:
//   policy POLICIES APPLICATION REASON   PowerDevil's PolicyAgent.AddInhibition
//   fdo APPLICATION REASON               org.freedesktop.PowerManagement.Inhibit
//   logind WHAT WHO WHY MODE             logind's Inhibit
class InhibitHolder
{
public:
    InhibitHolder() = default;
    InhibitHolder(const InhibitHolder &) = delete;
    InhibitHolder &operator=(const InhibitHolder &) = delete;
    ~InhibitHolder()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            endProcess(m_process);
    }

    // Writes the program to `path`; false when it cannot.
    static bool install(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(script()) == script().size();
    }

    static QByteArray script()
    {
        return "import sys, dbus\n"
               "args = sys.argv[1:]\n"
               "kind = args.pop(0)\n"
               "if kind == 'policy':\n"
               "    dbus.SessionBus().get_object('org.kde.Solid.PowerManagement.PolicyAgent', "
               "'/org/kde/Solid/PowerManagement/PolicyAgent').AddInhibition(dbus.UInt32(int(args[0])), args[1], "
               "args[2], dbus_interface='org.kde.Solid.PowerManagement.PolicyAgent')\n"
               "elif kind == 'fdo':\n"
               "    dbus.SessionBus().get_object('org.freedesktop.PowerManagement', "
               "'/org/freedesktop/PowerManagement/Inhibit').Inhibit(args[0], args[1], "
               "dbus_interface='org.freedesktop.PowerManagement.Inhibit')\n"
               "else:\n"
               "    fd = dbus.SystemBus().get_object('org.freedesktop.login1', '/org/freedesktop/login1').Inhibit("
               "*args, dbus_interface='org.freedesktop.login1.Manager')\n"
               "print('held', flush=True)\n"
               "sys.stdin.read()\n";
    }

    // Empty once held.
    QString start(const QString &scriptPath, const QProcessEnvironment &environment, const QStringList &arguments)
    {
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral("/usr/bin/python3"), QStringList{ scriptPath } + arguments);
        QByteArray printed;
        const QDeadlineTimer deadline(15000);
        while (!printed.contains("held\n") && !deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(100);
            printed += m_process.readAllStandardOutput();
        }
        if (!printed.contains("held\n"))
            return QStringLiteral("the holder did not take %1: %2")
                .arg(arguments.join(QLatin1Char(' ')), QString::fromUtf8(printed + m_process.readAllStandardError()));
        return QString();
    }

    qint32 pid() const { return qint32(m_process.processId()); }

private:
    QProcess m_process;
};
