#include "ConnectionLossPolicy.h"
#include "LoginLaunchPolicy.h"

#include <QTest>

class TestPolicies : public QObject
{
    Q_OBJECT

    using Policy = ConnectionLossPolicy<int>;
    using Outcome = Policy::Outcome;

private Q_SLOTS:
    void lossOfAConnectionThatNeverWorkedIsSilent()
    {
        Policy policy;
        QCOMPARE(policy.lost(1), Outcome::stale);
        policy.adopt(1);
        QCOMPARE(policy.lost(1), Outcome::clearSilently);
        QCOMPARE(policy.lost(1), Outcome::stale);
        QVERIFY(!policy.current());
    }

    void lossAfterItWorkedIsAnnouncedOnce()
    {
        Policy policy;
        policy.adopt(1);
        policy.markWorking();
        QCOMPARE(policy.lost(1), Outcome::clearAndNotify);
        QVERIFY(!policy.hasWorked());
        QVERIFY(!policy.current());
        policy.adopt(2);
        QCOMPARE(policy.lost(2), Outcome::clearSilently);
    }

    void lateNoticeAboutAReplacedConnectionIsStale()
    {
        Policy policy;
        policy.adopt(1);
        policy.adopt(2);
        QCOMPARE(policy.lost(1), Outcome::stale);
        QCOMPARE(policy.current(), 2);
    }

    void workingCarriesOverToAReplacement()
    {
        Policy policy;
        policy.adopt(1);
        policy.markWorking();
        policy.adopt(2);
        QCOMPARE(policy.lost(2), Outcome::clearAndNotify);
    }

    void agentExitsOnlyWhenNothingWantsIt()
    {
        QCOMPARE(LoginLaunchPolicy::defaultsKey(), QStringLiteral("opensAtLogin"));
        QCOMPARE(LoginLaunchPolicy::graceSeconds, 5);
        for (int bits = 0; bits < 8; ++bits) {
            const bool expected = bits == 0;
            QCOMPARE(LoginLaunchPolicy::shouldExit(bits & 1, bits & 2, bits & 4), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestPolicies)
#include "tst_policies.moc"
