#include "FakePowerStatus.h"
#include "QueryState.h"

#include <QCoroTask>
#include <QTest>

// The status values' text forms and equality, and the canned reader.
class TestPowerStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void errorTextForms()
    {
        QCOMPARE(PowerStatusError::assertionQueryFailed(0).errorDescription(),
            QStringLiteral("assertionQueryFailed(code: 0)"));
        QCOMPARE(PowerStatusError::assertionQueryFailed(-13).errorDescription(),
            QStringLiteral("assertionQueryFailed(code: -13)"));
        QCOMPARE(PowerStatusError::pmsetLaunchFailed(QStringLiteral("No such file or directory")).errorDescription(),
            QStringLiteral("pmsetLaunchFailed(\"No such file or directory\")"));
        QCOMPARE(PowerStatusError::pmsetFailed(1).errorDescription(), QStringLiteral("pmsetFailed(status: 1)"));
    }

    void equalityComparesCaseAndPayload()
    {
        QVERIFY(PowerStatusError::pmsetFailed(1) == PowerStatusError::pmsetFailed(1));
        QVERIFY(PowerStatusError::pmsetFailed(1) != PowerStatusError::pmsetFailed(2));
        QVERIFY(PowerStatusError::pmsetFailed(0) != PowerStatusError::assertionQueryFailed(0));
        QVERIFY(PowerStatusError::pmsetLaunchFailed(QStringLiteral("a"))
            != PowerStatusError::pmsetLaunchFailed(QStringLiteral("b")));

        const ProcessAssertion named{ 7, QStringLiteral("sleep"), QString(), QStringLiteral("x") };
        ProcessAssertion unnamed = named;
        unnamed.processName.reset();
        QVERIFY(named != unnamed);
        // Absent section equals only absent, not an empty heading.
        QVERIFY((PowerSetting{ std::nullopt, QStringLiteral("a"), QStringLiteral("1") })
            != (PowerSetting{ QString(), QStringLiteral("a"), QStringLiteral("1") }));
    }

    void queryStateHoldsOneOfThree()
    {
        using State = QueryState<QList<PowerSetting>>;
        QVERIFY(State::loading().isLoading());
        QVERIFY(!State::loading().value());
        const State failed = State::failed(PowerStatusError::pmsetFailed(1));
        QCOMPARE(*failed.error(), PowerStatusError::pmsetFailed(1));
        QVERIFY(!failed.isLoading());
        const State empty = State::available({});
        QVERIFY(empty.value() && empty.value()->isEmpty());
        QVERIFY(empty != State::loading());
    }

    void fakeAnswersWhatItHolds()
    {
        const QList<ProcessAssertion> held{ { 42, QStringLiteral("idle"), QStringLiteral("video"), std::nullopt } };
        FakePowerStatus status(held, Unexpected(PowerStatusError::pmsetFailed(3)));
        const auto assertions = QCoro::waitFor(status.assertions());
        QVERIFY(assertions);
        QCOMPARE(assertions.value(), held);
        const auto settings = QCoro::waitFor(status.settings());
        QVERIFY(!settings);
        QCOMPARE(settings.error(), PowerStatusError::pmsetFailed(3));
        // Asking again gives the same answers: nothing is consumed.
        QCOMPARE(QCoro::waitFor(status.assertions()).value(), held);
    }
};

QTEST_GUILESS_MAIN(TestPowerStatus)
#include "tst_powerstatus.moc"
