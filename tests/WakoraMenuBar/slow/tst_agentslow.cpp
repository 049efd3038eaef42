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
