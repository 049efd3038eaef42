#include "AgentProcesses.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// Finding the user's agents in a /proc of our own making.
class TestAgentProcesses : public QObject
{
    Q_OBJECT

    QTemporaryDir proc;

    void process(int pid, const QByteArray &comm, const QString &exe, const QByteArray &bus = "unix:path=/run/bus")
    {
        const QString directory = proc.filePath(QString::number(pid));
        QVERIFY(QDir().mkpath(directory));
        QFile file(directory + QStringLiteral("/comm"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(comm + '\n');
        QFile environ(directory + QStringLiteral("/environ"));
        QVERIFY(environ.open(QIODevice::WriteOnly));
        // NUL-separated, as the kernel shows it.
        environ.write(
            QByteArray("HOME=/home/u") + '\0' + "DBUS_SESSION_BUS_ADDRESS=" + bus + '\0' + "LANG=ko_KR.UTF-8" + '\0');
        if (!exe.isEmpty())
            QVERIFY(QFile::link(exe, directory + QStringLiteral("/exe")));
    }

private Q_SLOTS:
    void findsAgentsByName()
    {
        process(10, "WakoraMenuBar", QStringLiteral("/usr/libexec/wakora/WakoraMenuBar"));
        process(11, "WakoraMenuBar", QStringLiteral("/opt/old/libexec/wakora/WakoraMenuBar (deleted)"));
        process(12, "WakoraMenuBar", QString()); // exe unreadable
        process(13, "Wakora", QStringLiteral("/usr/bin/Wakora"));
        process(14, "bash", QStringLiteral("/usr/bin/bash"));
        process(15, "WakoraMenuBar", QStringLiteral("/opt/old/libexec/wakora/WakoraMenuBar"),
            "unix:path=/tmp/another-session"); // the same user's other session
        QVERIFY(QDir().mkpath(proc.filePath(QStringLiteral("self"))));

        auto agents = agentProcesses(::getuid(), "unix:path=/run/bus", proc.path());
        std::sort(agents.begin(), agents.end(), [](const auto &a, const auto &b) { return a.pid < b.pid; });
        QCOMPARE(agents.size(), 3);
        QCOMPARE(agents[0].pid, 10);
        QCOMPARE(agents[1].executable, QStringLiteral("/opt/old/libexec/wakora/WakoraMenuBar"));
        QVERIFY(agents[2].executable.isEmpty());

        QCOMPARE(agentProcesses(::getuid(), "unix:path=/tmp/another-session", proc.path()).size(), 1);
        // Another user's processes are never ours to end.
        QVERIFY(agentProcesses(::getuid() + 1, "unix:path=/run/bus", proc.path()).isEmpty());

        const auto foreign = foreignAgents(agents, QStringLiteral("/usr/"));
        QCOMPARE(foreign.size(), 2);
        QCOMPARE(foreign[0].pid, 11);
        QCOMPARE(foreign[1].pid, 12);
        // A prefix is a whole folder, not a string prefix.
        QCOMPARE(foreignAgents(agents, QStringLiteral("/us")).size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestAgentProcesses)
#include "tst_agentprocesses.moc"
