#include "FakePowerControl.h"
#include "FakeRunningApplications.h"
#include "PowerController.h"
#include "UsageRecorder.h"

#include <QCoroTimer>
#include <QTest>

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

} // namespace

// The recorder over the real controller with in-memory assertions, an
// in-memory status reader and process table, and a store without a file.
class TestUsageRecorder : public QObject
{
    Q_OBJECT

    static constexpr qint32 ownPID = 4242;

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

    // The recorder hears of changes through the event loop, right after the toggle.
    void toggle(bool enabled, AssertionKind kind)
    {
        QVERIFY(QCoro::waitFor(power->toggle(enabled, kind)));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }

private Q_SLOTS:
    void init()
    {
        now = QDateTime(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC);
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
