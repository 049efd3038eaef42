#include "AgentHarness.h"
#include "RemoteMenuBar.h"
#include "StartOrSkip.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QTest>

// What takes real time: the 10-second request time-out and the agent's
// 5-second check of whether anyone wants it.
class TestAgentSlow : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    QString error;

    void startHarness()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
    }

    std::unique_ptr<RemoteMenuBar> client()
    {
        return std::make_unique<RemoteMenuBar>(harness->buses.bus(MockBuses::session).newConnection(),
            AgentHarness::locations(), nullptr, nullptr, RemoteMenuBar::Options{});
    }

private Q_SLOTS:
    void cleanup()
    {
        if (QTest::currentTestFailed() && harness)
            harness->printLogs();
        harness.reset();
    }

    void aStoppedAgentTimesOut()
    {
        startHarness();
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        auto remote = client();
        QCoro::waitFor(remote->refresh());
        QVERIFY(remote->isAvailable());

        harness->signalAgent(SIGSTOP);
        QElapsedTimer elapsed;
        elapsed.start();
        const auto result = QCoro::waitFor(remote->setEnabled(true, AssertionKind::systemSleep));
        const qint64 waited = elapsed.elapsed();
        harness->signalAgent(SIGCONT);
        QVERIFY(!result);
        QCOMPARE(result.error(), QStringLiteral("메뉴바 앱이 응답하지 않습니다."));
        QVERIFY2(waited >= 9500 && waited < 14000, qPrintable(QString::number(waited)));
    }

    // A power manager that takes 30 s to answer holds up only the toggle
    // that waits for it: the agent answers State at once, the display kind
    // goes to its own service meanwhile, and once the call times out the
    // waiting toggle goes on to logind.
    void aSlowServiceHoldsUpOnlyItsOwnToggle()
    {
        startHarness();
        DBusMock *power = InhibitMocks::startCookieService(
            harness->buses, InhibitMocks::powerService, InhibitMocks::powerPath, InhibitMocks::powerInterface, &error);
        QVERIFY2(power, qPrintable(error));
        DBusMock *saver = InhibitMocks::startCookieService(harness->buses, InhibitMocks::screenSaverService,
            InhibitMocks::screenSaverPath, InhibitMocks::screenSaverInterface, &error);
        QVERIFY2(saver, qPrintable(error));
        QVERIFY(power->addMethod(InhibitMocks::powerInterface, QStringLiteral("Inhibit"), QStringLiteral("ss"),
            QStringLiteral("u"), QStringLiteral("import time\ntime.sleep(30)\nret = dbus.UInt32(1)")));
        QVERIFY2(harness->startAgent(&error), qPrintable(error));

        auto waiting = client();
        auto other = client();
        QCoro::waitFor(other->refresh());
        QElapsedTimer elapsed;
        elapsed.start();
        auto slowToggle = waiting->setEnabled(true, AssertionKind::systemSleep);

        qint64 longestState = 0;
        for (int i = 0; i < 10; ++i) {
            QElapsedTimer state;
            state.start();
            QCoro::waitFor(other->refresh());
            longestState = std::max(longestState, state.elapsed());
            QVERIFY(other->isAvailable());
        }
        QVERIFY(QCoro::waitFor(other->setEnabled(true, AssertionKind::displaySleep)));
        QCOMPARE(InhibitMocks::heldBy(saver, InhibitMocks::screenSaverInterface).size(), 1);
        const qint64 displayDone = elapsed.elapsed();
        qInfo("State answered within %lld ms at most, the display toggle was done after %lld ms, while the "
              "system toggle waited",
            static_cast<long long>(longestState), static_cast<long long>(displayDone));
        QVERIFY2(displayDone < 4000, qPrintable(QString::number(displayDone)));

        QVERIFY(QCoro::waitFor(std::move(slowToggle)));
        QVERIFY2(elapsed.elapsed() >= 4500, qPrintable(QString::number(elapsed.elapsed())));
        QCoro::waitFor(waiting->refresh());
        QVERIFY(waiting->isEnabled(AssertionKind::systemSleep));
        QVERIFY(waiting->isEnabled(AssertionKind::displaySleep));
        const auto locks = harness->inhibitors();
        QCOMPARE(locks.size(), 1);
        QCOMPARE(locks.first().what, QStringLiteral("sleep"));
    }

    void anUnwantedAgentQuitsAfterItsGracePeriod()
    {
        startHarness();
        harness->writeOpensAtLogin(false);
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QVERIFY(harness->agent->waitForFinished(12000));
        QVERIFY2(elapsed.elapsed() >= 4500, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(harness->agent->exitCode(), 0);
        QVERIFY(!harness->agentOwnsName());
    }

    void aClientKeepsTheAgent()
    {
        startHarness();
        harness->writeOpensAtLogin(false);
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        auto remote = client();
        QCoro::waitFor(remote->refresh());
        QVERIFY(remote->isAvailable());
        QTest::qWait(6500);
        QCOMPARE(harness->agent->state(), QProcess::Running);
    }

    void opensAtLoginDefaultsToTrue()
    {
        startHarness();
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QTest::qWait(6500);
        QCOMPARE(harness->agent->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestAgentSlow)
#include "tst_agentslow.moc"
