#include "ClamshellClient.h"
#include "HelperHarness.h"
#include "StartOrSkip.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QTest>

// The agent's client against a helper that does not answer: it gives up
// after ten seconds, and what comes later does not count.
class TestHelperSlow : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    std::unique_ptr<HelperHarness> harness;
    QString error;

    static QString notResponding() { return QStringLiteral("헬퍼가 응답하지 않습니다."); }

private Q_SLOTS:
    void init()
    {
        if (const QString why = MockBuses::unavailableReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        buses = std::make_unique<MockBuses>();
        QVERIFY2(buses->start(&error), qPrintable(error));
        harness = std::make_unique<HelperHarness>();
        WAKORA_START_OR_SKIP(harness->start(*buses));
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && harness) {
            buses->printLogs();
            qInfo().noquote() << "---- helper ----\n" << harness->helperLog();
        }
        harness.reset();
        buses.reset();
    }

    void aHangingAuthorizationTimesOut()
    {
        QVERIFY(
            harness->polkit->mockCall(QStringLiteral("SimulateHang"), { true }).type() == QDBusMessage::ReplyMessage);
        ClamshellClient client(buses->bus(MockBuses::system).newConnection(), HelperHarness::locations(), nullptr, {});

        QElapsedTimer waited;
        waited.start();
        const auto enabled = QCoro::waitFor(client.setEnabled(true));
        QVERIFY(!enabled);
        QCOMPARE(enabled.error(), notResponding());
        QVERIFY2(waited.elapsed() >= 9500 && waited.elapsed() < 14000, qPrintable(QString::number(waited.elapsed())));

        waited.restart();
        QCOMPARE(QCoro::waitFor(client.currentState()),
            (ClamshellState{ ClamshellApproval::notRegistered, ClamshellActivation::off }));
        QVERIFY2(waited.elapsed() >= 9500 && waited.elapsed() < 14000, qPrintable(QString::number(waited.elapsed())));
        QVERIFY(!harness->markerExists());
        QVERIFY(!harness->dropInExists());
    }

    void aLateReplyIsIgnored()
    {
        ClamshellClient client(buses->bus(MockBuses::system).newConnection(), HelperHarness::locations(), nullptr, {});
        QCOMPARE(QCoro::waitFor(client.currentState()),
            (ClamshellState{ ClamshellApproval::enabled, ClamshellActivation::off }));

        harness->signalHelper(SIGSTOP);
        QElapsedTimer waited;
        waited.start();
        const auto enabled = QCoro::waitFor(client.setEnabled(true));
        QVERIFY2(waited.elapsed() >= 9500 && waited.elapsed() < 14000, qPrintable(QString::number(waited.elapsed())));

        // The helper carries the request out once it runs again, and answers
        // a caller that has stopped waiting: the answer stays the time-out.
        harness->signalHelper(SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(harness->dropInExists(), 15000);
        QTest::qWait(500);
        QVERIFY(!enabled);
        QCOMPARE(enabled.error(), notResponding());
        // The next request sees what really happened.
        QCOMPARE(QCoro::waitFor(client.currentState()),
            (ClamshellState{ ClamshellApproval::enabled, ClamshellActivation::ownedByApp }));
    }

    // The helper stays while it has something to give back, and ends once
    // it has neither a client nor a setting of ours (10 s later): the next
    // request then starts whatever helper is installed by then.
    void aHelperEndsOnceIdleAndNotBefore()
    {
        std::optional<QDBusConnection> owner = buses->bus(MockBuses::system).newConnection();
        QDBusConnection other = buses->bus(MockBuses::system).newConnection();
        QCOMPARE(HelperHarness::request(*owner, QStringLiteral("Enable")).mode, 1);
        QCOMPARE(HelperHarness::request(other, QStringLiteral("Status")).mode, 1);
        const QString otherName = other.name();
        other = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(otherName);
        QVERIFY(!harness->helper->waitForFinished(13000));

        QCOMPARE(HelperHarness::request(*owner, QStringLiteral("Disable")).mode, 0);
        const QString ownerName = owner->name();
        owner.reset();
        QDBusConnection::disconnectFromBus(ownerName);
        QElapsedTimer waited;
        waited.start();
        QVERIFY(harness->helper->waitForFinished(20000));
        QCOMPARE(harness->helper->exitStatus(), QProcess::NormalExit);
        QCOMPARE(harness->helper->exitCode(), 0);
        QVERIFY2(waited.elapsed() >= 9000, qPrintable(QString::number(waited.elapsed())));
        QVERIFY(!harness->helperOwnsName());
        QVERIFY(!harness->markerExists());
    }
};

QTEST_GUILESS_MAIN(TestHelperSlow)
#include "tst_helperslow.moc"
