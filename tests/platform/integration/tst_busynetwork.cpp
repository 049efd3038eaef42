#include "BusyTrigger.h"

#include "EndProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace std::chrono_literals;

// The busy trigger over real network traffic: two network namespaces of the
// test's own joined by a veth pair, with pings between them. The trigger
// reads the kernel's counters of one namespace, as /proc/<pid>/net/dev of a
// process inside it shows them; nothing of the machine's own network is
// touched or counted. Needs root (CAP_NET_ADMIN), skips without it.
class TestBusyNetwork : public QObject
{
    Q_OBJECT

    const QString here = QStringLiteral("wakora-busy-a-%1").arg(getpid());
    const QString there = QStringLiteral("wakora-busy-b-%1").arg(getpid());
    QProcess resident;
    QTemporaryDir proc;

    static bool ip(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("ip"), arguments);
        const bool ok
            = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!ok)
            qWarning().noquote() << "ip" << arguments << "failed:" << process.readAllStandardError();
        return ok;
    }

    void removeNamespaces()
    {
        if (resident.state() != QProcess::NotRunning)
            endProcess(resident);
        // Deleting a namespace deletes its end of the pair, and with it the other.
        for (const QString &name : { here, there })
            if (QFile::exists(QStringLiteral("/run/netns/") + name))
                ip({ QStringLiteral("netns"), QStringLiteral("delete"), name });
    }

    std::unique_ptr<QProcess> ping(const QString &interval)
    {
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral("ip"),
            { QStringLiteral("netns"), QStringLiteral("exec"), here, QStringLiteral("ping"), QStringLiteral("-q"),
                QStringLiteral("-i"), interval, QStringLiteral("-s"), QStringLiteral("1400"),
                QStringLiteral("10.213.77.2") });
        return process;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("needs root to make network namespaces and a veth pair (CI runs the tests as root)");
        for (const auto &[program, package] : { std::pair{ "ip", "iproute2" }, { "ping", "iputils-ping" } })
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("not installed: %1 (Debian: %2)")
                                     .arg(QLatin1String(program), QLatin1String(package))));
        // Root in a container without CAP_SYS_ADMIN cannot make namespaces either.
        if (!ip({ QStringLiteral("netns"), QStringLiteral("add"), here }))
            QSKIP("cannot make a network namespace here (needs CAP_SYS_ADMIN and CAP_NET_ADMIN)");
        QVERIFY(ip({ QStringLiteral("netns"), QStringLiteral("add"), there }));
        const QString pair = QStringLiteral("wkb%1").arg(getpid() % 100000);
        QVERIFY(ip({ QStringLiteral("-n"), here, QStringLiteral("link"), QStringLiteral("add"), pair + QLatin1Char('a'),
            QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"),
            pair + QLatin1Char('b'), QStringLiteral("netns"), there }));
        QVERIFY(ip({ QStringLiteral("-n"), here, QStringLiteral("address"), QStringLiteral("add"),
            QStringLiteral("10.213.77.1/30"), QStringLiteral("dev"), pair + QLatin1Char('a') }));
        QVERIFY(ip({ QStringLiteral("-n"), there, QStringLiteral("address"), QStringLiteral("add"),
            QStringLiteral("10.213.77.2/30"), QStringLiteral("dev"), pair + QLatin1Char('b') }));
        for (const auto &[space, end] : { std::pair{ here, QLatin1Char('a') }, { there, QLatin1Char('b') } }) {
            QVERIFY(ip({ QStringLiteral("-n"), space, QStringLiteral("link"), QStringLiteral("set"), pair + end,
                QStringLiteral("up") }));
            QVERIFY(ip({ QStringLiteral("-n"), space, QStringLiteral("link"), QStringLiteral("set"),
                QStringLiteral("lo"), QStringLiteral("up") }));
        }

        // A process living in the namespace shows its counters; the CPU
        // counters are a still copy, so only the network can be busy.
        resident.start(QStringLiteral("ip"),
            { QStringLiteral("netns"), QStringLiteral("exec"), here, QStringLiteral("sleep"), QStringLiteral("600") });
        QVERIFY(resident.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/proc/%1/net/dev").arg(resident.processId())), 5000);
        // ip exec()s sleep once it has entered the namespace.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(resident.processId()))
                                     .endsWith(QStringLiteral("sleep")),
            5000);
        QVERIFY(QFile::link(
            QStringLiteral("/proc/%1/net").arg(resident.processId()), proc.filePath(QStringLiteral("net"))));
        QFile stat(proc.filePath(QStringLiteral("stat")));
        QVERIFY(stat.open(QIODevice::WriteOnly));
        stat.write("cpu  100 0 100 800 0 0 0 0 0 0\n");
        stat.close();
        QVERIFY(BusyCounters::read(proc.path()).interfaceBytes.contains(pair + QLatin1Char('a')));
    }

    void cleanupTestCase() { removeNamespaces(); }

    void trafficHeldForTheSettleTime()
    {
        BusyTrigger trigger(proc.path(), 500ms);
        QSignalSpy changes(&trigger, &Trigger::activeChanged);
        trigger.start({ { QStringLiteral("net"), 100000 }, { QStringLiteral("settle"), 2 } });

        // A slow ping (2 × 1.4 kB a second) stays far below 100 kB/s.
        const auto slow = ping(QStringLiteral("0.5"));
        QTest::qWait(3000);
        QCOMPARE(changes.size(), 0);
        endProcess(*slow);

        // 200 pings a second, 1.4 kB each, there and back: over 500 kB/s.
        QElapsedTimer clock;
        clock.start();
        const auto fast = ping(QStringLiteral("0.005"));
        QVERIFY(fast->waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 10000);
        QVERIFY2(clock.elapsed() >= 1200, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(trigger.subject(), QStringLiteral("네트워크"));

        clock.restart();
        endProcess(*fast);
        QTest::qWait(1000);
        QVERIFY(trigger.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 10000);
        QVERIFY2(clock.elapsed() >= 1200, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(changes.size(), 2);
        trigger.stop();
    }
};

QTEST_GUILESS_MAIN(TestBusyNetwork)
#include "tst_busynetwork.moc"
