#include "BusyTrigger.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

// The busy trigger over a fake proc tree that the test writes as the kernel
// would: counters that only grow, except where the test resets them.
class TestBusyTrigger : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;

    void write(const QString &file, const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(root->filePath(file)).path());
        QFile out(root->filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
    }

    // /proc/stat's first lines, with the given jiffies working and idle.
    void writeCpu(quint64 busy, quint64 idle)
    {
        // user nice system idle iowait irq softirq steal guest guest_nice; guest is part of user.
        write(QStringLiteral("stat"),
            QStringLiteral("cpu  %1 0 %2 %3 %4 0 0 0 %5 0\ncpu0 1 2 3 4 5 6 7 8 9 10\nintr 1 2 3\n")
                .arg(busy / 2)
                .arg(busy - busy / 2)
                .arg(idle / 2)
                .arg(idle - idle / 2)
                .arg(busy / 4)
                .toUtf8());
    }

    // /proc/net/dev with (interface, received, sent) rows.
    void writeNet(const QList<std::tuple<QString, quint64, quint64>> &rows)
    {
        QByteArray text = "Inter-|   Receive                                                |  Transmit\n"
                          " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
                          "drop fifo colls carrier compressed\n";
        for (const auto &[name, received, sent] : rows)
            text += QStringLiteral("%1: %2     7    0    0    0     0          0         0 %3     9    0    0    0     "
                                   "0       0          0\n")
                        .arg(name, 6)
                        .arg(received)
                        .arg(sent)
                        .toUtf8();
        write(QStringLiteral("net/dev"), text);
    }

private Q_SLOTS:
    void init() { root = std::make_unique<QTemporaryDir>(); }

    void readsTheCountersButLoopback()
    {
        writeNet({ { QStringLiteral("lo"), 5000, 5000 }, { QStringLiteral("eth0"), 1000, 234 },
            { QStringLiteral("wlp2s0"), 18446744073709551000ull, 0 } });
        writeCpu(300, 700);
        const BusyCounters counters = BusyCounters::read(root->path());
        QCOMPARE(counters.interfaceBytes.size(), 2);
        QCOMPARE(counters.interfaceBytes.value(QStringLiteral("eth0")), 1234u);
        QCOMPARE(counters.interfaceBytes.value(QStringLiteral("wlp2s0")), 18446744073709551000ull);
        QCOMPARE(counters.cpuBusy, 300u);
        QCOMPARE(counters.cpuTotal, 1000u);

        // Missing or foreign files read as nothing, never as a rate.
        write(QStringLiteral("stat"), "42 (sleep) S 1 42 42 0 -1\n");
        QFile::remove(root->filePath(QStringLiteral("net/dev")));
        const BusyCounters none = BusyCounters::read(root->path());
        QVERIFY(none.interfaceBytes.isEmpty());
        QCOMPARE(none.cpuTotal, std::nullopt);
        QCOMPARE(cpuShare(counters, none), std::nullopt);
    }

    void ratesSurviveResetsAndVanishedInterfaces()
    {
        BusyCounters before;
        before.interfaceBytes = { { QStringLiteral("eth0"), 1000000 }, { QStringLiteral("wg0"), 5000000000000 },
            { QStringLiteral("usb0"), 400 } };
        BusyCounters after;
        // eth0 moved 200 kB; wg0 was taken down and up (counters from zero);
        // usb0 is gone; veth1 is new with what it moved in its life.
        after.interfaceBytes = { { QStringLiteral("eth0"), 1200000 }, { QStringLiteral("wg0"), 300 },
            { QStringLiteral("veth1"), 9000000000000 } };
        QCOMPARE(networkRate(before, after, 2.0), 100000.0);
        QCOMPARE(networkRate(before, after, 0.0), 0.0);

        before.cpuBusy = 100;
        before.cpuTotal = 1000;
        after.cpuBusy = 175;
        after.cpuTotal = 1100;
        QCOMPARE(cpuShare(before, after), 75.0);
        // No time passed, or the counters went back: no share at all.
        QCOMPARE(cpuShare(before, before), std::nullopt);
        after.cpuBusy = 50;
        QCOMPARE(cpuShare(before, after), std::nullopt);
    }

    void optionsAreChecked_data()
    {
        QTest::addColumn<QVariantMap>("options");
        QTest::addColumn<QString>("why");
        const QString net = QStringLiteral("네트워크 기준은 초당 1바이트 이상의 정수여야 합니다");
        const QString cpu = QStringLiteral("CPU 기준은 1에서 100 사이의 퍼센트여야 합니다");
        const QString settle = QStringLiteral("유지 시간은 1초에서 24시간 사이여야 합니다");
        QTest::newRow("none") << QVariantMap() << QString();
        QTest::newRow("all") << QVariantMap{ { QStringLiteral("net"), 250000 }, { QStringLiteral("cpu"), 100 },
            { QStringLiteral("settle"), 86400 } }
                             << QString();
        QTest::newRow("as text") << QVariantMap{ { QStringLiteral("net"), QStringLiteral("1") } } << QString();
        QTest::newRow("no traffic") << QVariantMap{ { QStringLiteral("net"), 0 } } << net;
        QTest::newRow("net words") << QVariantMap{ { QStringLiteral("net"), QStringLiteral("100k") } } << net;
        QTest::newRow("net fraction") << QVariantMap{ { QStringLiteral("net"), 1.5 } } << net;
        QTest::newRow("cpu zero") << QVariantMap{ { QStringLiteral("cpu"), 0 } } << cpu;
        QTest::newRow("cpu over") << QVariantMap{ { QStringLiteral("cpu"), 101 } } << cpu;
        QTest::newRow("settle zero") << QVariantMap{ { QStringLiteral("settle"), 0 } } << settle;
        QTest::newRow("settle long") << QVariantMap{ { QStringLiteral("settle"), 86401 } } << settle;
    }

    void optionsAreChecked()
    {
        QFETCH(QVariantMap, options);
        QFETCH(QString, why);
        BusyTrigger trigger(root->path());
        QCOMPARE(trigger.invalidOptions(options).value_or(QString()), why);
    }

    // Busy CPU for longer than the settle time; quiet for as long to end.
    void cpuHeldForTheSettleTime()
    {
        writeNet({ { QStringLiteral("eth0"), 0, 0 } });
        quint64 busy = 1000;
        quint64 idle = 1000;
        int busyShare = 90;
        writeCpu(busy, idle);
        // The kernel's counters move all the time, at the share of the moment.
        QTimer kernel;
        connect(&kernel, &QTimer::timeout, this, [&] {
            busy += busyShare;
            idle += 100 - busyShare;
            writeCpu(busy, idle);
        });
        kernel.start(20ms);

        BusyTrigger trigger(root->path(), 100ms);
        QSignalSpy changes(&trigger, &Trigger::activeChanged);
        QElapsedTimer clock;
        clock.start();
        trigger.start({ { QStringLiteral("cpu"), 50 }, { QStringLiteral("settle"), 1 } });
        QVERIFY(trigger.isSampling());
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 3000);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(trigger.subject(), QStringLiteral("CPU"));
        QCOMPARE(changes.size(), 1);

        // Under the threshold, but only briefly: it stays.
        busyShare = 20;
        clock.restart();
        QTest::qWait(400);
        busyShare = 90;
        QTest::qWait(400);
        QVERIFY(trigger.isActive());
        busyShare = 20;
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 3000);
        QVERIFY2(clock.elapsed() >= 1600, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(changes.size(), 2);

        // Raised thresholds apply to what follows, without a restart.
        trigger.start({ { QStringLiteral("cpu"), 95 }, { QStringLiteral("settle"), 1 } });
        busyShare = 90;
        QTest::qWait(1500);
        QVERIFY(!trigger.isActive());
    }

    // A counter going back must never read as traffic: here a single sample
    // is enough to turn the trigger on.
    void networkCountersReset()
    {
        writeCpu(1000, 1000);
        writeNet({ { QStringLiteral("eth0"), 1000000000000, 0 }, { QStringLiteral("wlan0"), 5, 5 } });
        BusyTrigger trigger(root->path(), 1000ms);
        QSignalSpy changes(&trigger, &Trigger::activeChanged);
        trigger.start({ { QStringLiteral("net"), 1000 }, { QStringLiteral("settle"), 1 } });
        QTest::qWait(700);
        // eth0 reset, wlan0 gone, a new interface with a long past.
        writeNet({ { QStringLiteral("eth0"), 10, 0 }, { QStringLiteral("veth7"), 900000000000000, 0 } });
        QTest::qWait(1300);
        QCOMPARE(changes.size(), 0);

        // Real traffic after the reset is seen.
        writeNet({ { QStringLiteral("eth0"), 10, 5000000 }, { QStringLiteral("veth7"), 900000000000000, 0 } });
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 3000);
        QCOMPARE(trigger.subject(), QStringLiteral("네트워크"));
    }

    void aStoppedTriggerSamplesNothing()
    {
        quint64 sent = 0;
        writeNet({ { QStringLiteral("eth0"), 0, sent } });
        writeCpu(0, 0);
        QTimer kernel;
        connect(&kernel, &QTimer::timeout, this, [&] {
            sent += 1000000;
            writeNet({ { QStringLiteral("eth0"), 0, sent } });
        });
        kernel.start(20ms);

        BusyTrigger trigger(root->path(), 50ms);
        QVERIFY(!trigger.isSampling());
        QSignalSpy changes(&trigger, &Trigger::activeChanged);
        QTest::qWait(300);
        QCOMPARE(changes.size(), 0);
        trigger.start({ { QStringLiteral("settle"), 1 } });
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 3000);
        QCOMPARE(trigger.subject(), QStringLiteral("네트워크"));

        // Stopping ends the activity without a word, and nothing samples after.
        trigger.stop();
        QVERIFY(!trigger.isSampling());
        QVERIFY(!trigger.isActive());
        QCOMPARE(changes.size(), 1);
        QTest::qWait(500);
        QCOMPARE(changes.size(), 1);
        QVERIFY(!trigger.isActive());
    }
};

QTEST_GUILESS_MAIN(TestBusyTrigger)
#include "tst_busytrigger.moc"
