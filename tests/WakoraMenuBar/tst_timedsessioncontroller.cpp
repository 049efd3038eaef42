#include "FakePowerControl.h"
#include "KeepAwakeLedger.h"
#include "PowerController.h"
#include "TimedSessionController.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

// Timed sessions over the ledger, the real power controller and an
// in-memory backend, with a clock the test moves.
class TestTimedSessionController : public QObject
{
    Q_OBJECT

    std::shared_ptr<FakePowerControl> control;
    QDateTime clock;
    QDateTime origin;
    qint64 wallJumps = 0; // how far the wall clock was set, in milliseconds, rather than ran

    // The wall clock set, with no time passing.
    void setClock(const QDateTime &to)
    {
        wallJumps += clock.msecsTo(to);
        clock = to;
    }
    std::unique_ptr<PowerController> power;
    std::unique_ptr<KeepAwakeLedger> ledger;
    std::unique_ptr<TimedSessionController> sessions;

    // The user's switch.
    bool flip(AssertionKind kind, bool enabled) { return !QCoro::waitFor(ledger->setSwitch(kind, enabled)); }

    static constexpr qint64 systemOnly = 1;
    static constexpr qint64 both = 3;

    bool on(AssertionKind kind) const { return power->isEnabled(kind); }

private Q_SLOTS:
    void init()
    {
        control = std::make_shared<FakePowerControl>();
        clock = QDateTime(QDate(2026, 6, 10), QTime(12, 0), QTimeZone::utc());
        origin = clock;
        wallJumps = 0;
        power = std::make_unique<PowerController>(control, [this] { return clock; });
        ledger = std::make_unique<KeepAwakeLedger>(power.get());
        sessions = std::make_unique<TimedSessionController>(
            ledger.get(), [this] { return clock; },
            [this] { return std::chrono::milliseconds(origin.msecsTo(clock) - wallJumps); });
    }

    void cleanup()
    {
        sessions.reset();
        ledger.reset();
        power.reset();
    }

    // A session another agent ran goes on to the same end: a length by the
    // time since boot (whatever the wall clock says), a clock time by the
    // wall clock; one already over is not started.
    void aHandedOverSessionKeepsItsEnd()
    {
        using namespace std::chrono_literals;
        const auto elapsed = [this] { return std::chrono::milliseconds(origin.msecsTo(clock) - wallJumps); };
        // A length with 60 s left, its wall-clock end written a little off.
        QCOMPARE(QCoro::waitFor(sessions->resume(both, clock.addSecs(65), elapsed() + 60s)), std::nullopt);
        QVERIFY(on(AssertionKind::systemSleep) && on(AssertionKind::displaySleep));
        QCOMPARE(sessions->session().endsAt(), clock.addSecs(60));
        QCOMPARE(sessions->deadline(), elapsed() + 60s);
        setClock(clock.addSecs(3600));
        clock = clock.addSecs(59);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(sessions->session().isRunning());
        clock = clock.addSecs(1);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(control->activeKinds().isEmpty());

        // A clock time goes on without a deadline.
        const QDateTime until = clock.addSecs(600);
        QCOMPARE(QCoro::waitFor(sessions->resume(systemOnly, until, std::nullopt)), std::nullopt);
        QCOMPARE(sessions->session().endsAt(), until);
        QVERIFY(!sessions->deadline());
        QCoro::waitFor(sessions->cancel());

        // Over by either measure: nothing starts.
        QCOMPARE(QCoro::waitFor(sessions->resume(both, clock.addSecs(60), elapsed() - 1s)), std::nullopt);
        QCOMPARE(QCoro::waitFor(sessions->resume(both, clock.addSecs(-1), std::nullopt)), std::nullopt);
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(control->activeKinds().isEmpty());
        QCOMPARE(QCoro::waitFor(sessions->resume(0, until, std::nullopt)), TimedSession::invalidKinds());
    }

    void aSessionTurnsOffWhatItTurnedOnWhenItsTimeComes()
    {
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QSignalSpy changes(sessions.get(), &TimedSessionController::didChange);
        QCOMPARE(QCoro::waitFor(sessions->startFor(both, 90)), std::nullopt);
        QVERIFY(on(AssertionKind::systemSleep) && on(AssertionKind::displaySleep));
        QCOMPARE(sessions->session().endsAt(), clock.addSecs(90));
        QCOMPARE(changes.count(), 1);

        clock = clock.addSecs(89);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(sessions->session().isRunning());
        QCOMPARE(control->activeKinds().size(), 2);

        clock = clock.addSecs(1);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(!on(AssertionKind::systemSleep) && !on(AssertionKind::displaySleep));
        QVERIFY(control->activeKinds().isEmpty());
        QCOMPARE(ended.count(), 1);
        QCOMPARE(ended.first().first().toLongLong(), both);
        QCOMPARE(changes.count(), 2);

        // Over is over: a later look ends nothing twice.
        clock = clock.addSecs(60);
        QCoro::waitFor(sessions->checkEnd());
        QCOMPARE(ended.count(), 1);
    }

    void aKindThatWasOnAlreadyStaysOn()
    {
        QVERIFY(flip(AssertionKind::systemSleep, true));
        QCOMPARE(QCoro::waitFor(sessions->startFor(both, 60)), std::nullopt);
        clock = clock.addSecs(60);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(on(AssertionKind::systemSleep));
        QVERIFY(!on(AssertionKind::displaySleep));
    }

    void switchingTheKindOffEndsTheSession()
    {
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QSignalSpy changes(sessions.get(), &TimedSessionController::didChange);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60)), std::nullopt);
        // The user's word wins: the session's claim ends with the kind.
        QVERIFY(flip(AssertionKind::systemSleep, false));
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(!on(AssertionKind::systemSleep));
        QCOMPARE(changes.count(), 2);
        QVERIFY(flip(AssertionKind::systemSleep, true));
        clock = clock.addSecs(120);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(on(AssertionKind::systemSleep)); // the user's now, not the timer's
        QCOMPARE(ended.count(), 0);

        // Of a session over both kinds, switching one off leaves the other's.
        QVERIFY(flip(AssertionKind::systemSleep, false));
        QCOMPARE(QCoro::waitFor(sessions->startFor(both, 60)), std::nullopt);
        QVERIFY(flip(AssertionKind::displaySleep, false));
        QCOMPARE(sessions->session().kinds(), systemOnly);
        QVERIFY(on(AssertionKind::systemSleep));
        clock = clock.addSecs(60);
        QCoro::waitFor(sessions->checkEnd());
        QCOMPARE(ended.count(), 1);
        QVERIFY(!on(AssertionKind::systemSleep));
    }

    void aSwitchOnOverASessionOutlastsIt()
    {
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60)), std::nullopt);
        QVERIFY(flip(AssertionKind::systemSleep, true));
        QCOMPARE(control->activeKinds().size(), 1); // no second assertion
        QVERIFY(sessions->session().isRunning());
        clock = clock.addSecs(60);
        QCoro::waitFor(sessions->checkEnd());
        QCOMPARE(ended.count(), 1);
        QVERIFY(on(AssertionKind::systemSleep));
        QCOMPARE(ledger->claims().size(), 1);
        QCOMPARE(ledger->claims().first().owner, Claim::manualOwner());
    }

    void aKindTheSessionDoesNotCoverIsLeftAlone()
    {
        // The display, turned on by hand or by an application rule, neither
        // ends a system-sleep session nor goes off with it.
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60)), std::nullopt);
        QVERIFY(flip(AssertionKind::displaySleep, true));
        QVERIFY(sessions->session().isRunning());
        clock = clock.addSecs(60);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(!on(AssertionKind::systemSleep));
        QVERIFY(on(AssertionKind::displaySleep));
    }

    void aLostInhibitorEndsTheSession()
    {
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60)), std::nullopt);
        QCOMPARE(control->activeKinds(), QList<AssertionKind>{ AssertionKind::systemSleep });
        control->lose(1); // the first assertion made: the session's
        QTRY_VERIFY(!on(AssertionKind::systemSleep));
        QVERIFY(!sessions->session().isRunning());
    }

    void cancellingEndsItNowWithoutANotice()
    {
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QCOMPARE(QCoro::waitFor(sessions->startFor(both, 600)), std::nullopt);
        QCoro::waitFor(sessions->cancel());
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(control->activeKinds().isEmpty());
        QCOMPARE(ended.count(), 0);
    }

    void startingAgainMovesTheEnd()
    {
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60)), std::nullopt);
        clock = clock.addSecs(30);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 3600)), std::nullopt);
        QCOMPARE(control->activeKinds().size(), 1); // no second assertion
        clock = clock.addSecs(60);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(sessions->session().isRunning());
        // What the first start turned on is still the session's to turn off.
        clock = clock.addSecs(3600);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(!on(AssertionKind::systemSleep));
    }

    // "For two hours" is two hours of the machine's time, wherever the wall
    // clock is set meanwhile; the end it shows follows the clock.
    void aLengthIgnoresTheWallClockBeingSet()
    {
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 7200)), std::nullopt);
        QSignalSpy changes(sessions.get(), &TimedSessionController::didChange);

        setClock(clock.addSecs(-3600)); // set back an hour
        QCoro::waitFor(sessions->checkEnd());
        QCOMPARE(sessions->session().endsAt(), clock.addSecs(7200));
        QCOMPARE(changes.count(), 1); // the shown end moved

        clock = clock.addSecs(7199);
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(sessions->session().isRunning());
        clock = clock.addSecs(1); // two real hours: over, though the wall clock says one hour early
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(!on(AssertionKind::systemSleep));

        // Set forward three hours: still the whole length to go.
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 7200)), std::nullopt);
        setClock(clock.addSecs(3 * 3600));
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(sessions->session().isRunning());
        QCOMPARE(sessions->session().endsAt(), clock.addSecs(7200));
        QVERIFY(on(AssertionKind::systemSleep));
    }

    // Asleep past the end: the agent's timer stood still with the machine,
    // and the look at the resume ends the session there and then, a length
    // and a clock time alike.
    void aResumeAfterTheEndEndsItAtOnce()
    {
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 600)), std::nullopt);
        clock = clock.addSecs(8 * 3600); // a night with the lid shut: both clocks ran on
        QCoro::waitFor(sessions->checkEnd());
        QCOMPARE(ended.count(), 1);
        QVERIFY(!on(AssertionKind::systemSleep));

        QCOMPARE(QCoro::waitFor(sessions->startUntil(systemOnly, clock.addSecs(600))), std::nullopt);
        clock = clock.addSecs(3600);
        QCoro::waitFor(sessions->checkEnd());
        QCOMPARE(ended.count(), 2);
        QVERIFY(!on(AssertionKind::systemSleep));
    }

    // "Until 18:30" is a wall-clock time: a clock set forward past it ends it.
    void aClockTimeFollowsTheWallClock()
    {
        QCOMPARE(QCoro::waitFor(sessions->startUntil(systemOnly, clock.addSecs(3600))), std::nullopt);
        setClock(clock.addSecs(-600));
        QCoro::waitFor(sessions->checkEnd());
        QCOMPARE(sessions->session().endsAt(), clock.addSecs(4200)); // the same clock time
        setClock(clock.addSecs(4200));
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(!on(AssertionKind::systemSleep));
    }

    void untilAClockTime()
    {
        QCOMPARE(QCoro::waitFor(sessions->startUntil(systemOnly, clock.addSecs(-1))), TimedSession::invalidEndTime());
        QVERIFY(!on(AssertionKind::systemSleep));
        const QDateTime end = clock.addSecs(5 * 3600);
        QCOMPARE(QCoro::waitFor(sessions->startUntil(systemOnly, end)), std::nullopt);
        QCOMPARE(sessions->session().endsAt(), end);
        clock = end;
        QCoro::waitFor(sessions->checkEnd());
        QVERIFY(!on(AssertionKind::systemSleep));
    }

    void badRequestsChangeNothing()
    {
        QSignalSpy changes(sessions.get(), &TimedSessionController::didChange);
        QCOMPARE(QCoro::waitFor(sessions->startFor(0, 60)), TimedSession::invalidKinds());
        QCOMPARE(QCoro::waitFor(sessions->startFor(4, 60)), TimedSession::invalidKinds());
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 0)), TimedSession::invalidDuration());
        QVERIFY(control->activeKinds().isEmpty());
        QCOMPARE(changes.count(), 0);
    }

    void aRefusedKindLeavesNothingOnAndNoSession()
    {
        control->failCreate(PowerError::assertionCreateFailed(5));
        QCOMPARE(QCoro::waitFor(sessions->startFor(both, 60)), QStringLiteral("assertionCreateFailed(code: 5)"));
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(control->activeKinds().isEmpty());
    }

    void aRefusedReleaseAtTheEndStillEndsTheSession()
    {
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60)), std::nullopt);
        control->failRelease(PowerError::assertionReleaseFailed(-3));
        clock = clock.addSecs(60);
        QCoro::waitFor(sessions->checkEnd());
        // The kind stays held (the controller says so), the timer is done,
        // and the next plain switch retries the release.
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(on(AssertionKind::systemSleep));
        QCOMPARE(ended.count(), 1);
        control->failRelease();
        QVERIFY(flip(AssertionKind::systemSleep, false));
        QVERIFY(control->activeKinds().isEmpty());
    }

    void theTimerEndsItWithoutAnyoneLooking()
    {
        // The real clock and the real timer, over one second.
        sessions.reset();
        ledger.reset();
        power = std::make_unique<PowerController>(control);
        ledger = std::make_unique<KeepAwakeLedger>(power.get());
        sessions = std::make_unique<TimedSessionController>(ledger.get());
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 1)), std::nullopt);
        QVERIFY(on(AssertionKind::systemSleep));
        QVERIFY(ended.wait(3000));
        QVERIFY(!on(AssertionKind::systemSleep));
    }
};

QTEST_GUILESS_MAIN(TestTimedSessionController)
#include "tst_timedsessioncontroller.moc"
