#include "SessionRules.h"

#include <QTest>

// When the user's conditions stop holding.
class TestSessionRules : public QObject
{
    Q_OBJECT

    using Source = SessionRules::PowerSource;

private Q_SLOTS:
    void onMainsPowerNothingIsBroken()
    {
        const SessionRules strict{ true, 50 };
        QVERIFY(!strict.broken(Source{ false, 5.0 }));
        QVERIFY(!strict.broken(Source{ false, std::nullopt }));
    }

    void onlyOnACBreaksOnBattery()
    {
        const SessionRules rules{ true, 0 };
        const auto reason = rules.broken(Source{ true, 100.0 });
        QVERIFY(reason);
        QVERIFY(reason->contains(QStringLiteral("전원 어댑터")));
        QVERIFY(!SessionRules{}.broken(Source{ true, 1.0 })); // no rules, nothing broken
    }

    void aFloorBreaksBelowItsLevelOnly()
    {
        const SessionRules rules{ false, 10 };
        QVERIFY(!rules.broken(Source{ true, 10.0 }));
        QVERIFY(!rules.broken(Source{ true, 55.0 }));
        const auto reason = rules.broken(Source{ true, 9.0 });
        QVERIFY(reason);
        QVERIFY2(reason->contains(QStringLiteral("10%")), qPrintable(*reason));
        QVERIFY(rules.broken(Source{ true, 9.99 }));
        // A level nobody reports breaks nothing.
        QVERIFY(!rules.broken(Source{ true, std::nullopt }));
    }

    void floorsAreWholePercentsBelowAHundred()
    {
        QVERIFY(SessionRules::isValidFloor(0));
        QVERIFY(SessionRules::isValidFloor(99));
        QVERIFY(!SessionRules::isValidFloor(100));
        QVERIFY(!SessionRules::isValidFloor(-1));
    }
};

QTEST_GUILESS_MAIN(TestSessionRules)
#include "tst_sessionrules.moc"
