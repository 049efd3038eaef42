#include "FakePowerControl.h"
#include "KeepAwakeLedger.h"
#include "PowerController.h"
#include "SuspendAfterSession.h"
#include "TimedSessionController.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace std::chrono_literals;

// "Then suspend" over the real ledger and timed sessions, a short grace,
// recorded notices and a recorded suspend. logind itself cannot run on a
// private bus (it needs systemd as PID 1 and the machine's seats); the call
// to it is tested against python-dbusmock's logind in the integration tests.
class TestSuspendAfterSession : public QObject
{
    Q_OBJECT

    static constexpr auto grace = 150ms;
    // Long enough for a grace to have run out, had it not been cancelled.
    static constexpr int pastGrace = 500;
    static constexpr qint64 systemOnly = 1;

    std::shared_ptr<FakePowerControl> control;
    QDateTime clock;
    QDateTime origin;
    std::unique_ptr<PowerController> power;
    std::unique_ptr<KeepAwakeLedger> ledger;
    std::unique_ptr<TimedSessionController> sessions;
    std::unique_ptr<SuspendAfterSession> suspender;

    QList<std::chrono::milliseconds> warnings;
    int withdrawals = 0;
    QStringList failures;
    int suspends = 0;
    std::optional<QString> refusal; // what the fake logind answers

    // A session's time runs out.
    void runOut(qint64 seconds)
    {
        clock = clock.addSecs(seconds);
        QCoro::waitFor(sessions->checkEnd());
    }

private Q_SLOTS:
    void init()
    {
        control = std::make_shared<FakePowerControl>();
        clock = QDateTime(QDate(2026, 6, 10), QTime(12, 0), QTimeZone::utc());
        origin = clock;
        power = std::make_unique<PowerController>(control, [this] { return clock; });
        ledger = std::make_unique<KeepAwakeLedger>(power.get());
        sessions = std::make_unique<TimedSessionController>(
            ledger.get(), [this] { return clock; },
            [this] { return std::chrono::milliseconds(origin.msecsTo(clock)); });
        warnings.clear();
        withdrawals = 0;
        failures.clear();
        suspends = 0;
        refusal.reset();
        SuspendAfterSession::Notices notices;
        notices.warn = [this](std::chrono::milliseconds wait) { warnings.append(wait); };
        notices.withdraw = [this] { ++withdrawals; };
        notices.failed = [this](const QString &cause) { failures.append(cause); };
        suspender = std::make_unique<SuspendAfterSession>(
            sessions.get(), ledger.get(), std::move(notices),
            [this]() -> QCoro::Task<std::optional<QString>> {
                ++suspends;
                // A copy: GCC 12 moves from a member named in co_return.
                const std::optional<QString> answer = refusal;
                co_return answer;
            },
            grace);
    }

    void cleanup()
    {
        suspender.reset();
        sessions.reset();
        ledger.reset();
        power.reset();
    }

    void suspendsAfterTheGraceWhenTheTimeRunsOut_data()
    {
        QTest::addColumn<bool>("untilAClockTime");
        QTest::newRow("for a length") << false;
        QTest::newRow("until a clock time") << true;
    }

    void suspendsAfterTheGraceWhenTheTimeRunsOut()
    {
        QFETCH(bool, untilAClockTime);
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QSignalSpy asked(suspender.get(), &SuspendAfterSession::suspendAsked);
        const auto started = untilAClockTime ? QCoro::waitFor(sessions->startUntil(systemOnly, clock.addSecs(60), true))
                                             : QCoro::waitFor(sessions->startFor(systemOnly, 60, true));
        QCOMPARE(started, std::nullopt);
        QVERIFY(sessions->session().thenSuspend());
        QVERIFY(!suspender->isPending());

        runOut(60);
        QVERIFY(!sessions->session().isRunning());
        QVERIFY(!power->isEnabled(AssertionKind::systemSleep)); // the claim went as always
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.first() == grace);
        QVERIFY(suspender->isPending());
        QCOMPARE(suspends, 0);
        // The notice of a plain end, with its offer to extend, is not shown.
        QCOMPARE(ended.count(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(suspends, 1, 2000);
        QVERIFY(!suspender->isPending());
        QCOMPARE(withdrawals, 1);
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked.first().first().value<std::optional<QString>>(), std::nullopt);
        QVERIFY(failures.isEmpty());
        QTest::qWait(pastGrace);
        QCOMPARE(suspends, 1);
    }

    void aRefusalIsShownWithItsCause()
    {
        refusal = QStringLiteral("Access denied (org.freedesktop.DBus.Error.AccessDenied)");
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60, true)), std::nullopt);
        runOut(60);
        QTRY_COMPARE_WITH_TIMEOUT(failures, QStringList{ *refusal }, 2000);
        QCOMPARE(suspends, 1);
    }

    void theCancelActionKeepsTheMachineAwake()
    {
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60, true)), std::nullopt);
        runOut(60);
        QVERIFY(suspender->isPending());
        suspender->cancel();
        QVERIFY(!suspender->isPending());
        QCOMPARE(withdrawals, 1);
        QTest::qWait(pastGrace);
        QCOMPARE(suspends, 0);
    }

    void aNewRequestToStayAwakeCancels_data()
    {
        QTest::addColumn<QString>("request");
        QTest::newRow("the switch") << QStringLiteral("switch");
        QTest::newRow("a new timed session") << QStringLiteral("timer");
        QTest::newRow("a hold") << QStringLiteral("hold");
    }

    void aNewRequestToStayAwakeCancels()
    {
        QFETCH(QString, request);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60, true)), std::nullopt);
        runOut(60);
        QVERIFY(suspender->isPending());
        if (request == u"switch") {
            QCOMPARE(QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, true)), std::nullopt);
        } else if (request == u"timer") {
            QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 600)), std::nullopt);
        } else {
            const QString owner = Claim::holdOwner(QStringLiteral(":1.42"));
            QCOMPARE(QCoro::waitFor(ledger->add(owner, systemOnly, { std::nullopt, QStringLiteral("make"), false })),
                std::nullopt);
        }
        QVERIFY(!suspender->isPending());
        QCOMPARE(withdrawals, 1);
        QTest::qWait(pastGrace);
        QCOMPARE(suspends, 0);
        QVERIFY(power->isEnabled(AssertionKind::systemSleep));
    }

    void whatIsNotTheUserAskingDoesNotCancel()
    {
        // The switch on from before, and a trigger starting within the grace.
        QCOMPARE(QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, true)), std::nullopt);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60, true)), std::nullopt);
        runOut(60);
        QVERIFY(suspender->isPending());
        QCOMPARE(QCoro::waitFor(ledger->add(QStringLiteral("schedule"), systemOnly, {})), std::nullopt);
        QVERIFY(suspender->isPending());
        QTRY_COMPARE_WITH_TIMEOUT(suspends, 1, 2000);
    }

    void noSuspendWithoutTheTimeRunningOut_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("cancelled") << QStringLiteral("cancel");
        QTest::newRow("switched off") << QStringLiteral("switch off");
        QTest::newRow("started again without") << QStringLiteral("restart");
        QTest::newRow("never asked") << QStringLiteral("plain");
    }

    void noSuspendWithoutTheTimeRunningOut()
    {
        QFETCH(QString, how);
        QSignalSpy ended(sessions.get(), &TimedSessionController::sessionEnded);
        QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 60, how != u"plain")), std::nullopt);
        if (how == u"cancel") {
            QCoro::waitFor(sessions->cancel());
        } else if (how == u"switch off") {
            QCOMPARE(QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, false)), std::nullopt);
        } else if (how == u"restart") {
            // The latest start says how the session ends.
            QCOMPARE(QCoro::waitFor(sessions->startFor(systemOnly, 120)), std::nullopt);
            QVERIFY(!sessions->session().thenSuspend());
            runOut(120);
        } else {
            runOut(60);
        }
        QVERIFY(!sessions->session().isRunning());
        QCOMPARE(ended.count(), how == u"restart" || how == u"plain" ? 1 : 0);
        QVERIFY(warnings.isEmpty());
        QVERIFY(!suspender->isPending());
        QTest::qWait(pastGrace);
        QCOMPARE(suspends, 0);
    }

    void thenSuspendOutlivesAClockChangeAndAKindCut()
    {
        // A session of both kinds loses the display to the switch and keeps its end and its sleep.
        QCOMPARE(QCoro::waitFor(sessions->startFor(3, 600, true)), std::nullopt);
        const QDateTime end = *sessions->session().endsAt();
        QCOMPARE(QCoro::waitFor(ledger->setSwitch(AssertionKind::displaySleep, false)), std::nullopt);
        QCOMPARE(sessions->session().kinds(), systemOnly);
        QCOMPARE(*sessions->session().endsAt(), end);
        QVERIFY(sessions->session().thenSuspend());
        runOut(600);
        QVERIFY(suspender->isPending());
    }
};

QTEST_GUILESS_MAIN(TestSuspendAfterSession)
#include "tst_suspendaftersession.moc"
