#include "ProcessWakeups.h"

#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <time.h>

// The counting behind the agent's wake-up figures: every thread's switches,
// not the main thread's alone, and CPU in seconds.
class TestProcessWakeups : public QObject
{
    Q_OBJECT

    static bool write(const QString &path, const QByteArray &text)
    {
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(text) >= 0;
    }

    static double processCpuSeconds()
    {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
    }

private Q_SLOTS:
    void readsEveryThreadOfAProcTree()
    {
        QTemporaryDir proc;
        const double tick = double(sysconf(_SC_CLK_TCK));
        // A command name with a space and a parenthesis, as comm allows.
        QVERIFY(write(proc.filePath(QStringLiteral("42/stat")),
            "42 (a b) c) S 1 42 42 0 -1 4194560 100 0 0 0 250 50 0 0 20 0 3 0 10 0 0\n"));
        QVERIFY(write(proc.filePath(QStringLiteral("42/task/42/status")),
            "Name:\ta b) c\nvoluntary_ctxt_switches:\t10\nnonvoluntary_ctxt_switches:\t2\n"));
        QVERIFY(write(proc.filePath(QStringLiteral("42/task/43/status")),
            "Name:\tQDBusConnection\nvoluntary_ctxt_switches:\t7\nnonvoluntary_ctxt_switches:\t1\n"));

        const ProcessWakeups::Snapshot snapshot = ProcessWakeups::snapshot(42, proc.path());
        QVERIFY(snapshot.valid);
        QCOMPARE(snapshot.threads.size(), 2);
        QCOMPARE(snapshot.threads.value(43).voluntary, 7u);
        QCOMPARE(snapshot.threads.value(42).involuntary, 2u);
        QCOMPARE(snapshot.cpuSeconds, 300 / tick);

        QVERIFY(!ProcessWakeups::snapshot(7, proc.path()).valid);
    }

    void aDifferenceCountsNewThreadsFromZeroAndReusedIdsAsNew()
    {
        ProcessWakeups::Snapshot before;
        before.threads = { { 1, { 100, 10 } }, { 2, { 50, 5 } }, { 3, { 400, 40 } } };
        before.cpuSeconds = 1.5;
        ProcessWakeups::Snapshot after;
        // 1 lives on; 2 ended; 3 ended and its id went to a new thread; 4 is new.
        after.threads = { { 1, { 130, 12 } }, { 3, { 6, 1 } }, { 4, { 20, 0 } } };
        after.cpuSeconds = 1.75;

        const ProcessWakeups::Difference difference = ProcessWakeups::difference(before, after);
        QCOMPARE(difference.voluntary, 30u + 6u + 20u);
        QCOMPARE(difference.involuntary, 2u + 1u + 0u);
        QCOMPARE(difference.wakeups(), 59u);
        QCOMPARE(difference.cpuSeconds, 0.25);
        QCOMPARE(difference.threadsStarted, 2);
        QCOMPARE(difference.threadsEnded, 1);
    }

    // A second thread that wakes a hundred times while the main thread
    // waits: the figure must hold its wake-ups, which the process's own
    // status file does not.
    void countsTheWakeupsOfAnotherThread()
    {
        QSemaphore go;
        QSemaphore done;
        QSemaphore finish;
        std::thread sleeper([&] {
            go.acquire();
            for (int i = 0; i < 100; ++i)
                usleep(1000);
            done.release();
            finish.acquire();
        });
        const ProcessWakeups::Snapshot before = ProcessWakeups::snapshot(getpid());
        go.release();
        done.acquire();
        const ProcessWakeups::Snapshot after = ProcessWakeups::snapshot(getpid());
        finish.release();
        sleeper.join();

        QVERIFY(before.valid && after.valid);
        QVERIFY(after.threads.size() >= 2);
        const ProcessWakeups::Difference difference = ProcessWakeups::difference(before, after);
        QVERIFY2(difference.voluntary >= 100, qPrintable(QString::number(difference.voluntary)));
        const ProcessWakeups::ThreadSwitches mainBefore = before.threads.value(getpid());
        const ProcessWakeups::ThreadSwitches mainAfter = after.threads.value(getpid());
        QVERIFY(mainAfter.voluntary - mainBefore.voluntary < 100);
    }

    void cpuIsInSeconds()
    {
        const ProcessWakeups::Snapshot before = ProcessWakeups::snapshot(getpid());
        const double start = processCpuSeconds();
        volatile quint64 sink = 0;
        while (processCpuSeconds() - start < 0.3)
            sink = sink + 1;
        const ProcessWakeups::Snapshot after = ProcessWakeups::snapshot(getpid());
        const double used = ProcessWakeups::difference(before, after).cpuSeconds;
        QVERIFY2(used >= 0.2 && used < 1.0, qPrintable(QString::number(used)));
    }
};

QTEST_GUILESS_MAIN(TestProcessWakeups)
#include "tst_processwakeups.moc"
