#include "FakePowerControl.h"
#include "PowerController.h"

#include <QCoroTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

#include <cerrno>
#include <chrono>

// A backend that answers only after a while, as a desktop service on a busy
// bus does.
class SlowControl : public FakePowerControl
{
public:
    int creations = 0;

    QCoro::Task<Expected<quint32, PowerError>> createAssertion(AssertionKind kind) override
    {
        ++creations;
        QTimer delay;
        delay.start(std::chrono::milliseconds(30));
        co_await delay;
        co_return create(kind);
    }
};

// The controller over the in-memory backend: what it creates and releases,
// what it remembers, and what it announces.
class TestPowerController : public QObject
{
    Q_OBJECT

    std::shared_ptr<FakePowerControl> control;
    QDateTime clock;
    std::unique_ptr<PowerController> controller;

private Q_SLOTS:
    void init()
    {
        control = std::make_shared<FakePowerControl>();
        clock = QDateTime(QDate(2026, 3, 1), QTime(9, 0), QTimeZone::utc());
        controller = std::make_unique<PowerController>(control, [this] { return clock; });
    }

    void assertionKindsAreFixed()
    {
        QCOMPARE(allAssertionKinds.size(), 2u);
        QCOMPARE(allAssertionKinds[0], AssertionKind::systemSleep);
        QCOMPARE(allAssertionKinds[1], AssertionKind::displaySleep);
        QCOMPARE(assertionKindFromRaw(0), AssertionKind::systemSleep);
        QCOMPARE(assertionKindFromRaw(1), AssertionKind::displaySleep);
        QVERIFY(!assertionKindFromRaw(2));
        QVERIFY(!assertionKindFromRaw(-1));
        QCOMPARE(assertionName(AssertionKind::systemSleep), QStringLiteral("Wakora: prevent system sleep"));
        QCOMPARE(assertionName(AssertionKind::displaySleep), QStringLiteral("Wakora: prevent display sleep"));
        QCOMPARE(assertionType(AssertionKind::systemSleep), QStringLiteral("PreventUserIdleSystemSleep"));
    }

    void errorTextForms()
    {
        QCOMPARE(
            PowerError::assertionCreateFailed(5).errorDescription(), QStringLiteral("assertionCreateFailed(code: 5)"));
        QCOMPARE(PowerError::assertionReleaseFailed(-3).errorDescription(),
            QStringLiteral("assertionReleaseFailed(code: -3)"));
        QVERIFY(PowerError::assertionCreateFailed(5) != PowerError::assertionReleaseFailed(5));
        QVERIFY(PowerError::assertionCreateFailed(5) != PowerError::assertionCreateFailed(6));
    }

    void enablingCreatesOneAssertionAndAnnouncesIt()
    {
        QSignalSpy changes(controller.get(), &PowerToggling::didChange);
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QVERIFY(controller->isEnabled(AssertionKind::systemSleep));
        QVERIFY(!controller->isEnabled(AssertionKind::displaySleep));
        QCOMPARE(control->activeKinds(), QList<AssertionKind>{ AssertionKind::systemSleep });
        QCOMPARE(controller->activeSince(), clock);
        QCOMPARE(changes.count(), 1);

        // The same state again: no second assertion, no announcement.
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QCOMPARE(control->activeKinds().size(), 1);
        QCOMPARE(changes.count(), 1);
        QVERIFY(QCoro::waitFor(controller->toggle(false, AssertionKind::displaySleep)));
        QCOMPARE(changes.count(), 1);
    }

    void activeSinceSpansTheWholeAwakePeriod()
    {
        const QDateTime start = clock;
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        clock = clock.addSecs(10);
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::displaySleep)));
        QCOMPARE(controller->activeSince(), start);
        clock = clock.addSecs(10);
        QVERIFY(QCoro::waitFor(controller->toggle(false, AssertionKind::systemSleep)));
        QCOMPARE(controller->activeSince(), start);
        QVERIFY(QCoro::waitFor(controller->toggle(false, AssertionKind::displaySleep)));
        QVERIFY(!controller->activeSince());

        // A new period starts at its own time.
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::displaySleep)));
        QCOMPARE(controller->activeSince(), clock);
    }

    void refusedCreationChangesNothing()
    {
        QSignalSpy changes(controller.get(), &PowerToggling::didChange);
        control->failCreate(PowerError::assertionCreateFailed(5));
        for (int attempt = 0; attempt < 2; ++attempt) { // the failure stays until cleared
            const auto result = QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep));
            QVERIFY(!result);
            QCOMPARE(result.error(), PowerError::assertionCreateFailed(5));
        }
        QVERIFY(!controller->isEnabled(AssertionKind::systemSleep));
        QVERIFY(!controller->activeSince());
        QCOMPARE(changes.count(), 0);

        control->failCreate();
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QCOMPARE(changes.count(), 1);
    }

    void refusedReleaseKeepsTheSameIdentifierForTheRetry()
    {
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::displaySleep)));
        const QDateTime since = *controller->activeSince();
        QSignalSpy changes(controller.get(), &PowerToggling::didChange);

        control->failRelease(PowerError::assertionReleaseFailed(-3));
        QTest::ignoreMessage(QtCriticalMsg, "Failed to release assertion 1: assertionReleaseFailed(code: -3)");
        const auto refused = QCoro::waitFor(controller->toggle(false, AssertionKind::displaySleep));
        QVERIFY(!refused);
        QCOMPARE(refused.error(), PowerError::assertionReleaseFailed(-3));
        QVERIFY(controller->isEnabled(AssertionKind::displaySleep));
        QCOMPARE(controller->activeSince(), since);
        QCOMPARE(changes.count(), 0);

        // Re-enabling while held does not create a second assertion.
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::displaySleep)));
        QCOMPARE(control->activeKinds().size(), 1);

        control->failRelease();
        QVERIFY(QCoro::waitFor(controller->toggle(false, AssertionKind::displaySleep)));
        QVERIFY(control->activeKinds().isEmpty()); // identifier 1 was the one released
        QCOMPARE(changes.count(), 1);
    }

    void releaseAllGoesInOrderAndSurvivesFailures()
    {
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::displaySleep)));
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));

        control->failRelease(PowerError::assertionReleaseFailed(1));
        QTest::ignoreMessage(QtCriticalMsg, "Failed to release assertion 2: assertionReleaseFailed(code: 1)");
        QTest::ignoreMessage(QtCriticalMsg, "Failed to release assertion 1: assertionReleaseFailed(code: 1)");
        controller->releaseAll();
        QVERIFY(controller->isEnabled(AssertionKind::systemSleep));
        QVERIFY(controller->isEnabled(AssertionKind::displaySleep));

        control->failRelease();
        QList<bool> systemHeldAtEachChange;
        connect(controller.get(), &PowerToggling::didChange, this,
            [&] { systemHeldAtEachChange.append(controller->isEnabled(AssertionKind::systemSleep)); });
        controller->releaseAll();
        QCOMPARE(systemHeldAtEachChange, (QList<bool>{ false, false })); // system sleep first, then display
        QVERIFY(control->activeKinds().isEmpty());
        QVERIFY(!controller->activeSince());
    }

    void releaseAllContinuesPastOneRefusedKind()
    {
        // Only the first release is refused: the second kind must still go.
        struct FlakyControl : FakePowerControl {
            int releases = 0;
            QCoro::Task<Expected<void, PowerError>> releaseAssertion(quint32 id) override
            {
                if (releases++ == 0)
                    co_return Unexpected(PowerError::assertionReleaseFailed(16));
                co_return release(id);
            }
        };
        auto flaky = std::make_shared<FlakyControl>();
        PowerController local(flaky);
        QVERIFY(QCoro::waitFor(local.toggle(true, AssertionKind::systemSleep)));
        QVERIFY(QCoro::waitFor(local.toggle(true, AssertionKind::displaySleep)));
        QTest::ignoreMessage(QtCriticalMsg, "Failed to release assertion 1: assertionReleaseFailed(code: 16)");
        local.releaseAll();
        QVERIFY(local.isEnabled(AssertionKind::systemSleep));
        QVERIFY(!local.isEnabled(AssertionKind::displaySleep));
        QCOMPARE(flaky->activeKinds(), QList<AssertionKind>{ AssertionKind::systemSleep });
    }

    void fakeHandsOutFreshIdentifiers()
    {
        FakePowerControl fake;
        QCOMPARE(fake.create(AssertionKind::systemSleep).value(), 1u);
        QCOMPARE(QCoro::waitFor(fake.createAssertion(AssertionKind::displaySleep)).value(), 2u);
        QVERIFY(QCoro::waitFor(fake.releaseAssertion(1)));
        QCOMPARE(fake.create(AssertionKind::systemSleep).value(), 3u);
        QCOMPARE(fake.activeKinds().size(), 2);
        QVERIFY(fake.release(42)); // unknown identifiers release quietly
        QCOMPARE(fake.activeKinds().size(), 2);
    }

    void asynchronousToggleReportsTheErrorText()
    {
        control->failCreate(PowerError::assertionCreateFailed(5));
        const auto refused = QCoro::waitFor(controller->setEnabled(true, AssertionKind::systemSleep));
        QVERIFY(!refused);
        QCOMPARE(refused.error(), QStringLiteral("assertionCreateFailed(code: 5)"));
        control->failCreate();
        QVERIFY(QCoro::waitFor(controller->setEnabled(true, AssertionKind::systemSleep)));
        QVERIFY(controller->isEnabled(AssertionKind::systemSleep));
        QCOMPARE(controller->ownerPID(), qint32(QCoreApplication::applicationPid()));
        QVERIFY(controller->isAvailable());
    }

    void togglesTakeTurnsSoAKindIsCreatedOnce()
    {
        auto slow = std::make_shared<SlowControl>();
        PowerController local(slow);
        QSignalSpy changes(&local, &PowerToggling::didChange);
        // Three quick clicks while the first creation is still on its way.
        auto first = local.toggle(true, AssertionKind::systemSleep);
        auto second = local.toggle(true, AssertionKind::systemSleep);
        auto off = local.toggle(false, AssertionKind::systemSleep);
        QVERIFY(local.isBusy());
        QVERIFY(!local.isEnabled(AssertionKind::systemSleep)); // nothing is booked before the backend answers
        QVERIFY(QCoro::waitFor(std::move(first)));
        QVERIFY(QCoro::waitFor(std::move(second)));
        QVERIFY(QCoro::waitFor(std::move(off)));
        QCOMPARE(slow->creations, 1);
        QCOMPARE(changes.size(), 2); // on, then off, in the order asked
        QVERIFY(!local.isEnabled(AssertionKind::systemSleep));
        QVERIFY(slow->activeKinds().isEmpty());
        QVERIFY(!local.isBusy());
    }

    void aLostAssertionTurnsItsKindOffAndIsAnnounced()
    {
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        clock = clock.addSecs(10);
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::displaySleep)));
        QSignalSpy changes(controller.get(), &PowerToggling::didChange);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ended without being released")));
        control->lose(1);
        QCOMPARE(changes.size(), 1);
        QVERIFY(!controller->isEnabled(AssertionKind::systemSleep));
        QVERIFY(controller->isEnabled(AssertionKind::displaySleep));
        QCOMPARE(controller->activeSince(), clock.addSecs(-10)); // still the same awake period

        // Losing what is not held, or twice, changes nothing.
        control->lose(1);
        control->lose(99);
        QCOMPARE(changes.size(), 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ended without being released")));
        control->lose(2);
        QCOMPARE(changes.size(), 2);
        QVERIFY(!controller->activeSince());
        // Turning it on again takes a fresh assertion.
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QCOMPARE(control->activeKinds(), QList<AssertionKind>{ AssertionKind::systemSleep });
    }

    // No service holds the kind for now: it reads off, the awake period
    // ends, and it comes back by itself; the user's word still counts.
    void aKindNoServiceHoldsWaitsAndComesBack()
    {
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::displaySleep)));
        QSignalSpy changes(controller.get(), &PowerToggling::didChange);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not held by any service")));
        control->setHeld(1, false);
        QCOMPARE(changes.size(), 1);
        QVERIFY(!controller->isEnabled(AssertionKind::systemSleep));
        QVERIFY(controller->isWaiting(AssertionKind::systemSleep));
        QVERIFY(controller->isAskedFor(AssertionKind::systemSleep));
        QVERIFY(!controller->isWaiting(AssertionKind::displaySleep));
        QVERIFY(controller->activeSince()); // the display still holds the awake period
        control->setHeld(1, false); // said twice: nothing new
        QCOMPARE(changes.size(), 1);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not held by any service")));
        control->setHeld(2, false);
        QVERIFY(!controller->activeSince()); // nothing is held: not awake
        clock = clock.addSecs(60);
        control->setHeld(2, true);
        QCOMPARE(changes.size(), 3);
        QVERIFY(controller->isEnabled(AssertionKind::displaySleep));
        QCOMPARE(controller->activeSince(), clock); // a new awake period

        // Switching a waiting kind on asks the services again, under a fresh
        // assertion; the waiting one is given back.
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QVERIFY(controller->isEnabled(AssertionKind::systemSleep));
        QVERIFY(!controller->isWaiting(AssertionKind::systemSleep));
        QCOMPARE(control->activeKinds().size(), 2);
        control->setHeld(1, true); // the old one, given back: nothing changes
        QCOMPARE(changes.size(), 4);

        // And switching a waiting kind off ends it for good.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not held by any service")));
        control->setHeld(2, false);
        QVERIFY(QCoro::waitFor(controller->toggle(false, AssertionKind::displaySleep)));
        QVERIFY(!controller->isAskedFor(AssertionKind::displaySleep));
        QCOMPARE(control->activeKinds(), QList<AssertionKind>{ AssertionKind::systemSleep });
    }

    // Time asleep is not time kept awake: the awake period ends at the sleep
    // and a new one begins at the resume; the assertions stay.
    void aSleepEndsTheAwakePeriodAndTheResumeStartsANewOne()
    {
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QSignalSpy changes(controller.get(), &PowerToggling::didChange);
        controller->setAsleep(true);
        QCOMPARE(changes.size(), 1);
        QVERIFY(!controller->activeSince());
        QVERIFY(controller->isEnabled(AssertionKind::systemSleep));
        clock = clock.addSecs(8 * 3600);
        controller->setAsleep(false);
        QCOMPARE(changes.size(), 2);
        QCOMPARE(controller->activeSince(), clock);
        controller->setAsleep(false); // said twice: nothing new
        QCOMPARE(changes.size(), 2);

        // With nothing held a sleep changes nothing anyone sees.
        QVERIFY(QCoro::waitFor(controller->toggle(false, AssertionKind::systemSleep)));
        controller->setAsleep(true);
        controller->setAsleep(false);
        QCOMPARE(changes.size(), 3);
    }

    void aFailedRetryOfAWaitingKindKeepsItWaiting()
    {
        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not held by any service")));
        control->setHeld(1, false);
        control->failCreate(PowerError::assertionCreateFailed(-ENOENT));
        const auto again = QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep));
        QVERIFY(!again);
        QCOMPARE(again.error(), PowerError::assertionCreateFailed(-ENOENT));
        QVERIFY(controller->isWaiting(AssertionKind::systemSleep));
        control->setHeld(1, true);
        QVERIFY(controller->isEnabled(AssertionKind::systemSleep));
    }
};

QTEST_GUILESS_MAIN(TestPowerController)
#include "tst_powercontroller.moc"
