#include "FakePowerControl.h"
#include "FakeRunningApplications.h"
#include "PowerController.h"
#include "TmpfsMount.h"
#include "UsageRecorder.h"

#include <QCoroTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <atomic>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Answers the assertion query from a list or with an error, optionally after
// a delay; counts the queries and how many run at once.
class ScriptedStatus : public PowerStatusReading
{
public:
    Expected<QList<ProcessAssertion>, PowerStatusError> answer = QList<ProcessAssertion>();
    std::chrono::milliseconds delay{ 0 };
    int queries = 0;
    int running = 0;
    int mostRunning = 0;

    QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> assertions() override
    {
        ++queries;
        mostRunning = std::max(mostRunning, ++running);
        if (delay > 0ms)
            co_await QCoro::sleepFor(delay);
        --running;
        // QCoro 0.8 moves from an lvalue given to co_return: hand it a copy.
        auto copy = answer;
        co_return copy;
    }

    QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> settings() override
    {
        co_return QList<PowerSetting>();
    }
};

ProcessAssertion held(qint32 pid)
{
    return ProcessAssertion{ pid, u"sleep"_s, u"busy"_s, std::nullopt };
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A disk whose writes wait while `held` is set (at most ten seconds), and
// which notes whether any write ran on the main thread.
struct SlowDisk {
    std::atomic<bool> held = false;
    std::atomic<int> writes = 0;
    std::atomic<bool> onMainThread = false;
    std::chrono::milliseconds extra{ 0 };

    UsageWriter::Write write()
    {
        QThread *const main = QThread::currentThread();
        return [this, main](const QString &path, const QByteArray &bytes) {
            if (QThread::currentThread() == main)
                onMainThread = true;
            ++writes;
            for (int waited = 0; held && waited < 10'000; ++waited)
                QThread::msleep(1);
            if (extra > 0ms)
                QThread::msleep(ulong(extra.count()));
            return UsageWriter::writeAtomically(path, bytes);
        };
    }
};

} // namespace

// The recorder over the real controller with in-memory assertions, an
// in-memory status reader and process table, and a store without a file
// unless a case puts one in `folder`.
class TestUsageRecorder : public QObject
{
    Q_OBJECT

    static constexpr qint32 ownPID = 4242;

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TmpfsMount> disk;
    QDateTime now;
    std::shared_ptr<FakePowerControl> control;
    std::unique_ptr<PowerController> power;
    std::shared_ptr<ScriptedStatus> status;
    std::shared_ptr<FakeRunningApplications> applications;
    std::shared_ptr<UsageStore> store;

    std::unique_ptr<UsageRecorder> makeRecorder(std::chrono::milliseconds interval = 1h)
    {
        return std::make_unique<UsageRecorder>(
            power.get(), status, applications, store, UsageRecorder::Options{ interval, ownPID });
    }

    QMap<QString, qint64> today() const
    {
        return store->contents().appMinutes.value(
            now.toTimeZone(QTimeZone::systemTimeZone()).date().startOfDay(QTimeZone::systemTimeZone()));
    }

    void toggle(bool enabled, AssertionKind kind) { QVERIFY(QCoro::waitFor(power->toggle(enabled, kind))); }

    void useFile(const QString &path, UsageWriter::Options writer)
    {
        store = std::make_shared<UsageStore>(
            path, [this] { return now; }, QTimeZone::systemTimeZone(), writer);
    }

private Q_SLOTS:
    void init()
    {
        now = QDateTime(QDate(2026, 3, 10), QTime(12, 0), QTimeZone::utc());
        control = std::make_shared<FakePowerControl>();
        power = std::make_unique<PowerController>(control, [this] { return now; });
        status = std::make_shared<ScriptedStatus>();
        applications = std::make_shared<FakeRunningApplications>();
        store = std::make_shared<UsageStore>(QString(), [this] { return now; });

        applications->insert({ 100, true, u"Browser"_s, u"browser"_s });
        applications->insert({ 101, true, u"Browser"_s, u"browser"_s }); // a second process of it
        applications->insert({ 102, true, u"Music"_s, {} });
        applications->insert({ 200, false, u"tray-applet"_s, {} }); // not a regular application
        applications->insert({ 201, true, std::nullopt, {} }); // regular but nameless
        applications->insert({ ownPID, true, u"Wakora"_s, {} });
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
    }

    void cleanup()
    {
        // The store writes its last on the way out: before its disk goes.
        store.reset();
        disk.reset();
        folder.reset();
    }

    void sessionsFollowTheController()
    {
        const auto recorder = makeRecorder();
        QCOMPARE(recorder->store(), store);
        QVERIFY(store->contents().sessions.isEmpty()); // nothing is opened at creation

        const QDateTime first = now;
        toggle(true, AssertionKind::systemSleep);
        now = now.addSecs(60);
        toggle(true, AssertionKind::displaySleep); // still on: same session
        recorder->powerChanged(); // a repeated notice changes nothing
        now = now.addSecs(60);
        toggle(false, AssertionKind::systemSleep);
        toggle(false, AssertionKind::displaySleep);
        const QDateTime end = now;
        recorder->powerChanged(); // off with nothing open: nothing
        now = now.addSecs(60);
        toggle(true, AssertionKind::systemSleep);

        QCOMPARE(store->contents().sessions, QList<UsageStore::Session>({ { first, end }, { now, std::nullopt } }));
    }

    void onAndOffInOneTurnIsASession()
    {
        const auto recorder = makeRecorder();
        const QDateTime on = now;
        auto enabling = power->toggle(true, AssertionKind::systemSleep);
        now = now.addMSecs(40);
        auto disabling = power->toggle(false, AssertionKind::systemSleep);
        // Both toggles ended without the event loop turning once, and the
        // clock moved on before it could: the session keeps the changes' times.
        QVERIFY(enabling.isReady() && disabling.isReady());
        now = now.addSecs(5);
        QCoreApplication::processEvents();
        QCOMPARE(store->contents().sessions, QList<UsageStore::Session>({ { on, on.addMSecs(40) } }));
    }

    void aSlowDiskNeverHoldsUpToggles()
    {
        // Every write is held until the toggles are done: had a toggle waited
        // for the disk, it would still be waiting.
        SlowDisk slow;
        slow.held = true;
        const QString path = folder->filePath(u"Wakora/usage.json"_s);
        useFile(path, { 0ms, 1h, slow.write() });
        QTRY_COMPARE(slow.writes.load(), 1); // the store's first save, now held
        const auto recorder = makeRecorder();
        for (int round = 0; round < 20; ++round) {
            toggle(true, AssertionKind::systemSleep);
            now = now.addSecs(30);
            toggle(false, AssertionKind::systemSleep);
            now = now.addSecs(30);
        }
        QCOMPARE(slow.writes.load(), 1);
        QCOMPARE(store->contents().sessions.size(), 20);

        // Let go, the 40 changes reach the disk as one write, off the main thread.
        slow.held = false;
        QTRY_COMPARE(readAll(path), store->contents().toJson());
        QCOMPARE(slow.writes.load(), 2);
        QVERIFY(!slow.onMainThread);
    }

    void finishEndsTheSessionAndWaitsForTheDisk()
    {
        // Writes would wait an hour to coalesce, and each takes 200 ms: only a
        // flush that waits puts the history on disk by the time finish() returns.
        SlowDisk slow;
        slow.extra = 200ms;
        const QString path = folder->filePath(u"Wakora/usage.json"_s);
        useFile(path, { 1h, 1h, slow.write() });
        const auto recorder = makeRecorder();
        const QDateTime on = now;
        toggle(true, AssertionKind::systemSleep);
        now = now.addSecs(90);
        // Nothing was released: the process's end gives it back.
        recorder->finish();
        const auto saved = UsageStore::Contents::fromJson(readAll(path));
        QVERIFY(saved);
        QCOMPARE(saved.value().sessions, QList<UsageStore::Session>({ { on, now } }));
        QCOMPARE(saved.value(), store->contents());
    }

    void fullDiskKeepsTogglingAndSavesWhenRoomReturns()
    {
        disk = std::make_unique<TmpfsMount>(folder->path());
        if (!disk->isMounted())
            QSKIP(qPrintable(disk->error()));
        const QString path = folder->filePath(u"Wakora/usage.json"_s);
        useFile(path, { 0ms, 100ms });
        QVERIFY(store->flush());
        const QByteArray before = readAll(path);
        const QString filler = folder->filePath(u"filler"_s);
        QVERIFY(TmpfsMount::fill(filler));

        status->answer = QList<ProcessAssertion>{ held(100) };
        const auto recorder = makeRecorder();
        for (int round = 0; round < 5; ++round) {
            toggle(true, AssertionKind::displaySleep);
            QVERIFY(power->isEnabled(AssertionKind::displaySleep));
            now = now.addSecs(60);
            QCoro::waitFor(recorder->sample());
            toggle(false, AssertionKind::displaySleep);
            now = now.addSecs(60);
        }
        QVERIFY(!store->flush());
        QCOMPARE(store->contents().sessions.size(), 5);
        QCOMPARE(store->summary(1, 5).apps, QList<AppUsage>({ { u"Browser"_s, 5 } }));
        QCOMPARE(readAll(path), before);

        QVERIFY(QFile::remove(filler));
        QTRY_COMPARE(readAll(path), store->contents().toJson());
    }

    void sampleCountsRegularApplicationsOnce()
    {
        const auto recorder = makeRecorder();
        status->answer = QList<ProcessAssertion>{
            held(100),
            held(100),
            held(101),
            held(102),
            held(200),
            held(201),
            held(300),
            held(ownPID),
        };
        QCoro::waitFor(recorder->sample());
        QCOMPARE(today(), (QMap<QString, qint64>{ { u"Browser"_s, 1 }, { u"Music"_s, 1 } }));
        QCOMPARE(store->contents().lastSeen, now);

        now = now.addSecs(60);
        QCoro::waitFor(recorder->sample());
        QCOMPARE(today(), (QMap<QString, qint64>{ { u"Browser"_s, 2 }, { u"Music"_s, 2 } }));
    }

    void emptyMinuteStillAdvancesLastSeen()
    {
        const auto recorder = makeRecorder();
        status->answer = QList<ProcessAssertion>{ held(ownPID) };
        QCoro::waitFor(recorder->sample());
        QVERIFY(store->contents().appMinutes.isEmpty());
        QCOMPARE(store->contents().lastSeen, now);
    }

    void failedQuerySkipsTheMinute()
    {
        const auto recorder = makeRecorder();
        status->answer = QList<ProcessAssertion>{ held(100) };
        QCoro::waitFor(recorder->sample());
        const UsageStore::Contents before = store->contents();

        now = now.addSecs(60);
        status->answer = Unexpected(PowerStatusError::assertionQueryFailed(-5));
        QCoro::waitFor(recorder->sample());
        QCOMPARE(store->contents(), before);

        now = now.addSecs(60);
        status->answer = QList<ProcessAssertion>{ held(100) };
        QCoro::waitFor(recorder->sample());
        QCOMPARE(today().value(u"Browser"_s), 2);
        QCOMPARE(store->contents().lastSeen, now);
    }

    void firstSampleComesOneIntervalAfterStart()
    {
        status->answer = QList<ProcessAssertion>{ held(102) };
        const auto recorder = makeRecorder(400ms);
        QTest::qWait(100);
        QCOMPARE(status->queries, 0);
        QTRY_COMPARE_WITH_TIMEOUT(status->queries, 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(today().value(u"Music"_s), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(status->queries, 2, 5000);
        QCOMPARE(UsageRecorder::sampleInterval, 60s);
    }

    void slowQueriesNeverOverlap()
    {
        status->delay = 150ms;
        const auto recorder = makeRecorder(20ms);
        QTRY_VERIFY_WITH_TIMEOUT(status->queries >= 3, 5000);
        QCOMPARE(status->mostRunning, 1);
    }

    void recorderGoneDuringAQueryRecordsNothing()
    {
        status->delay = 50ms;
        status->answer = QList<ProcessAssertion>{ held(100) };
        auto recorder = makeRecorder();
        auto sample = recorder->sample();
        recorder.reset();
        QCoro::waitFor(std::move(sample));
        QCOMPARE(status->running, 0);
        QVERIFY(store->contents().appMinutes.isEmpty());
        QVERIFY(!store->contents().lastSeen);
    }
};

QTEST_GUILESS_MAIN(TestUsageRecorder)
#include "tst_usagerecorder.moc"
