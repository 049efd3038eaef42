#include "ScheduleTrigger.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// The schedule trigger over a clock the test sets: what it holds at the
// edges, its one timer, and a clock that jumps under it.
class TestScheduleTrigger : public QObject
{
    Q_OBJECT

    QTimeZone berlin{ "Europe/Berlin" };
    QDateTime clock;
    std::unique_ptr<ScheduleTrigger> trigger;

    QDateTime at(int day, int hour, int minute = 0) const
    {
        // 2026-12-07 is a Monday.
        return QDateTime(QDate(2026, 12, 7).addDays(day), QTime(hour, minute), berlin);
    }
    static QVariantMap schedule(const QString &text) { return { { u"schedule"_s, text } }; }
    // The trigger's wait, against what the clock says is left.
    static bool wakesAt(const ScheduleTrigger &trigger, const QDateTime &now, const QDateTime &edge)
    {
        const auto wait = trigger.wakeIn();
        if (!wait) {
            qWarning("no timer");
            return false;
        }
        // The clock is read after the timer was set: a few milliseconds either way.
        const qint64 expected = now.msecsTo(edge);
        if (wait->count() > expected + 50 || wait->count() < expected - 2000) {
            qWarning("wakes in %lld ms, the edge is %lld ms away", qlonglong(wait->count()), expected);
            return false;
        }
        return true;
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(berlin.isValid());
        clock = at(0, 8, 59);
        // Neither the wall clock nor logind: the test says when the clock moved.
        trigger = std::make_unique<ScheduleTrigger>([this] { return clock; }, ScheduleTrigger::Watch{});
    }

    void cleanup() { trigger.reset(); }

    void itsNameKindsAndOptions()
    {
        QCOMPARE(trigger->name(), u"schedule"_s);
        QCOMPARE(trigger->defaultKinds(), qint64(1));
        QCOMPARE(trigger->unavailable(), std::nullopt);
        QCOMPARE(trigger->invalidOptions(schedule(u"mon-fri 09:00-18:00"_s)), std::nullopt);
        const auto bad = trigger->invalidOptions(schedule(u"mon-fri 9h-18h"_s));
        QVERIFY(bad);
        QVERIFY2(bad->contains(u"9h"_s), qUtf8Printable(*bad));
        QVERIFY(trigger->invalidOptions({}));
    }

    void activeBetweenTheEdgesWithTheSummaryAsSubject()
    {
        QSignalSpy changed(trigger.get(), &Trigger::activeChanged);
        trigger->start(schedule(u"mon-fri 09:00-18:00"_s));
        QVERIFY(!trigger->isActive());
        QCOMPARE(changed.count(), 0);
        QVERIFY(wakesAt(*trigger, clock, at(0, 9)));

        clock = at(0, 9);
        trigger->clockMoved();
        QVERIFY(trigger->isActive());
        QCOMPARE(trigger->subject(), u"평일 09:00–18:00"_s);
        QCOMPARE(changed.count(), 1);
        QVERIFY(wakesAt(*trigger, clock, at(0, 18)));

        // Woken a moment early, it changes nothing and waits the moment.
        clock = at(0, 18).addMSecs(-5);
        trigger->clockMoved();
        QVERIFY(trigger->isActive());
        QCOMPARE(changed.count(), 1);
        QVERIFY(trigger->wakeIn() && *trigger->wakeIn() <= 5ms);

        clock = at(0, 18);
        trigger->clockMoved();
        QVERIFY(!trigger->isActive());
        QCOMPARE(trigger->subject(), QString());
        QCOMPARE(changed.count(), 2);
        QVERIFY(wakesAt(*trigger, clock, at(1, 9)));

        // Friday evening waits for Monday.
        clock = at(4, 18);
        trigger->clockMoved();
        QVERIFY(wakesAt(*trigger, clock, at(7, 9)));
    }

    void theTimerWakesItAtTheEdge()
    {
        // A clock that runs: 150 ms before the start.
        QElapsedTimer running;
        running.start();
        const QDateTime base = at(0, 9).addMSecs(-150);
        trigger = std::make_unique<ScheduleTrigger>(
            [base, running] { return base.addMSecs(running.elapsed()); }, ScheduleTrigger::Watch{});
        QSignalSpy changed(trigger.get(), &Trigger::activeChanged);
        trigger->start(schedule(u"daily 09:00-09:01"_s));
        QVERIFY(!trigger->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(trigger->isActive(), 2000);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(trigger->subject(), u"매일 09:00–09:01"_s);
        QVERIFY(wakesAt(*trigger, base.addMSecs(running.elapsed()), at(0, 9, 1)));
    }

    void nothingIsArmedWhileStopped()
    {
        clock = at(0, 10);
        trigger->start(schedule(u"mon-fri 09:00-18:00"_s));
        QVERIFY(trigger->isActive());
        QVERIFY(trigger->wakeIn());

        QSignalSpy changed(trigger.get(), &Trigger::activeChanged);
        trigger->stop();
        QVERIFY(!trigger->isActive());
        QCOMPARE(trigger->subject(), QString());
        QCOMPARE(changed.count(), 0); // stopping says nothing
        QCOMPARE(trigger->wakeIn(), std::nullopt);

        // A clock change heard after the stop arms nothing.
        clock = at(1, 10);
        trigger->clockMoved();
        QVERIFY(!trigger->isActive());
        QCOMPARE(trigger->wakeIn(), std::nullopt);
        QCOMPARE(changed.count(), 0);
    }

    void aClockJumpIsReadAgain()
    {
        clock = at(5, 12); // Saturday
        trigger->start(schedule(u"mon-fri 09:00-18:00"_s));
        QVERIFY(!trigger->isActive());
        QVERIFY(wakesAt(*trigger, clock, at(7, 9)));

        // Set forward into Monday's hours: no edge passed by the timer, but the state follows.
        clock = at(7, 10);
        trigger->clockMoved();
        QVERIFY(trigger->isActive());
        QVERIFY(wakesAt(*trigger, clock, at(7, 18)));

        // And back to Sunday.
        clock = at(6, 10);
        trigger->clockMoved();
        QVERIFY(!trigger->isActive());
        QVERIFY(wakesAt(*trigger, clock, at(7, 9)));
    }

    void newOptionsAreFollowedAndBadOnesHoldNothing()
    {
        clock = at(5, 23); // Saturday night
        trigger->start(schedule(u"mon-fri 09:00-18:00"_s));
        QVERIFY(!trigger->isActive());
        trigger->start(schedule(u"sat 22:00-02:00"_s));
        QVERIFY(trigger->isActive());
        QCOMPARE(trigger->subject(), u"토 22:00–02:00"_s);
        QVERIFY(wakesAt(*trigger, clock, at(6, 2)));

        trigger->start(schedule(u"someday"_s));
        QVERIFY(!trigger->isActive());
        QCOMPARE(trigger->wakeIn(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestScheduleTrigger)
#include "tst_scheduletrigger.moc"
