#include "AgentHarness.h"
#include "ClamshellClient.h"
#include "HelperHarness.h"
#include "NoticeRecorder.h"
#include "StartOrSkip.h"

#include <QCoroTask>
#include <QStandardPaths>
#include <QTest>

// The lid-closed mode end to end: the wakora command, the real agent, its
// client of the helper, and the real helper and wakora-pmset, with
// mocked polkit, logind and systemd on private buses.
class TestLidClosed : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> agent;
    std::unique_ptr<HelperHarness> helper;
    QString error;

    // The helper started by the system bus itself on the first request,
    // from an activation file that points at the build's helper.
    bool makeHelperActivatable()
    {
        const QString services = agent->buses.directory() + QStringLiteral("/system-services");
        QDir().mkpath(services);
        QFile service(services + QStringLiteral("/com.quorvel.WakoraApp.helper.service"));
        if (!service.open(QIODevice::WriteOnly))
            return false;
        const QString exec
            = QStringLiteral("/usr/bin/env DBUS_SYSTEM_BUS_ADDRESS=%1 %2 %3")
                  .arg(agent->buses.bus(MockBuses::system).address(), HelperHarness::locations().helper(),
                      helper->testOptions(false).join(QLatin1Char(' ')));
        service.write(QStringLiteral("[D-BUS Service]\nName=com.quorvel.WakoraApp.helper\nExec=%1\nUser=root\n")
                          .arg(exec)
                          .toUtf8());
        service.close();

        // The private system bus reads its configuration again, now with that folder.
        QFile config(agent->buses.directory() + QStringLiteral("/system.conf"));
        if (!config.open(QIODevice::ReadOnly))
            return false;
        QByteArray text = config.readAll();
        config.close();
        text.replace("</busconfig>", "  <servicedir>" + QFile::encodeName(services) + "</servicedir>\n</busconfig>");
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate) || config.write(text) != text.size())
            return false;
        config.close();
        QDBusMessage reload = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("ReloadConfig"));
        return helper->system().call(reload, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
    }

    void stopActivatedHelper()
    {
        if (!helper || !helper->helperOwnsName())
            return;
        const auto pid = helper->system().interface()->servicePid(ClamshellService::machServiceName());
        if (pid.isValid() && pid.value() > 0) {
            ::kill(pid_t(pid.value()), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(!helper->helperOwnsName(), 10000);
        }
    }

private Q_SLOTS:
    void init()
    {
        agent = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(agent->start());
        helper = std::make_unique<HelperHarness>();
        WAKORA_START_OR_SKIP(helper->start(agent->buses, agent->logind));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && agent) {
            agent->buses.printLogs();
            qInfo().noquote() << "---- agent ----\n" << agent->agentLog();
            if (helper)
                qInfo().noquote() << "---- helper ----\n" << helper->helperLog();
        }
        // The agent first: a helper that leaves while the agent runs is started again by its next request.
        if (agent)
            agent->stopAgent();
        stopActivatedHelper();
        helper.reset();
        agent.reset();
    }

    void theCommandSwitchesTheLidThroughTheAgentAndTheHelper()
    {
        QVERIFY2(helper->startHelper(&error, false), qPrintable(error));
        QVERIFY2(agent->startAgent(&error), qPrintable(error));
        // A window of the user's, a client of the agent since its first request.
        QDBusConnection window = agent->buses.bus(MockBuses::session).newConnection();
        NoticeRecorder notices(window);
        QCOMPARE(window
                     .call(QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
                         MenuBarService::objectPath(), MenuBarService::interfaceName(), QStringLiteral("State")))
                     .type(),
            QDBusMessage::ReplyMessage);

        QByteArray output;
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("on") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 켜짐"), output.constData());
        QVERIFY(helper->dropInExists());
        QVERIFY(helper->markerExists());
        // The window hears of the mode's change.
        QTRY_VERIFY(notices.count.load() >= 1);
        QTest::qWait(200);
        const int heardWhenOn = notices.count.load();
        QCOMPARE(agent->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 켜짐"), output.constData());

        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("off") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 꺼짐"), output.constData());
        QVERIFY(!helper->dropInExists());
        QVERIFY(!helper->markerExists());
        QTRY_VERIFY(notices.count.load() > heardWhenOn);

        // A setting made elsewhere is reported, and left alone.
        QVERIFY(helper->setLidIgnoredElsewhere());
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("on") }, &output), 0);
        QVERIFY2(output.contains("시스템에서 켜짐"), output.constData());
        QVERIFY(!helper->markerExists());
        QCOMPARE(agent->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 시스템에서 켜짐"), output.constData());

        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("sideways") }, &output), 2);
    }

    void aRefusalReachesTheCommandWithItsCause()
    {
        QVERIFY2(helper->startHelper(&error, false), qPrintable(error));
        QVERIFY2(agent->startAgent(&error), qPrintable(error));
        QVERIFY(helper->allow(false));
        QByteArray output;
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("on") }, &output), 1);
        QVERIFY2(output.contains("덮개 설정을 변경하지 못했습니다. ("), output.constData());
        QVERIFY2(output.contains("polkit does not allow"), output.constData());
        QVERIFY(!helper->dropInExists());
    }

    void aKilledAgentGivesTheSettingBack()
    {
        QVERIFY2(helper->startHelper(&error, false), qPrintable(error));
        QVERIFY2(agent->startAgent(&error), qPrintable(error));
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("on") }), 0);
        QVERIFY(helper->dropInExists());

        agent->signalAgent(SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(!helper->dropInExists() && !helper->markerExists(), 15000);
        QVERIFY(helper->helper->state() == QProcess::Running);
    }

    void theBusStartsTheHelperOnDemand()
    {
        QVERIFY(makeHelperActivatable());
        QVERIFY(!helper->helperOwnsName());
        QVERIFY2(agent->startAgent(&error), qPrintable(error));

        QByteArray output;
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("on") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 켜짐"), output.constData());
        QVERIFY(helper->helperOwnsName());
        QVERIFY(helper->dropInExists());
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("off") }, &output), 0);
        QVERIFY(!helper->dropInExists());
    }

    void aHelperNotRunByRootIsNotTalkedTo()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("setpriv is not installed");
        // An impostor owning the helper's name as "nobody" (the private bus lets anyone own anything).
        QVERIFY(QFile::setPermissions(agent->buses.directory(),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                | QFileDevice::ExeOther));
        QProcess impostor;
        impostor.setProcessEnvironment(agent->buses.environment());
        impostor.setProcessChannelMode(QProcess::MergedChannels);
        impostor.start(QStringLiteral("setpriv"),
            { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                QStringLiteral("/usr/bin/python3"), QStringLiteral("-m"), QStringLiteral("dbusmock"),
                QStringLiteral("--system"), ClamshellService::machServiceName(), ClamshellService::objectPath(),
                ClamshellService::interfaceName() });
        QVERIFY(impostor.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(helper->helperOwnsName(), 15000);
        QDBusMessage add = QDBusMessage::createMethodCall(ClamshellService::machServiceName(),
            ClamshellService::objectPath(), QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddMethod"));
        add << ClamshellService::interfaceName() << QStringLiteral("Enable") << QString() << QStringLiteral("xas")
            << QStringLiteral("ret = (1, [])");
        QCOMPARE(helper->system().call(add, QDBus::Block, 10000).type(), QDBusMessage::ReplyMessage);

        ClamshellClient client(
            agent->buses.bus(MockBuses::system).newConnection(), HelperHarness::locations(), nullptr, {});
        const auto enabled = QCoro::waitFor(client.setEnabled(true));
        QVERIFY(!enabled);
        QVERIFY2(enabled.error().contains(QStringLiteral("not root")), qPrintable(enabled.error()));
        impostor.terminate();
        impostor.waitForFinished(5000);
    }

    void aLostHelperIsAnnouncedOnceAfterItHadWorked()
    {
        QVERIFY2(helper->startHelper(&error), qPrintable(error));
        QDBusConnection bus = agent->buses.bus(MockBuses::system).newConnection();
        ClamshellClient client(bus, HelperHarness::locations(), nullptr, {});
        int losses = 0;
        client.onConnectionLost = [&losses] { ++losses; };

        // Lost before anything worked: dropped silently.
        helper->allow(false);
        const auto refused = QCoro::waitFor(client.setEnabled(true));
        QVERIFY(!refused);
        QVERIFY2(refused.error().contains(QStringLiteral("polkit does not allow")), qPrintable(refused.error()));
        QCOMPARE(QCoro::waitFor(client.currentState()),
            (ClamshellState{ ClamshellApproval::notRegistered, ClamshellActivation::off }));
        QVERIFY(client.helperBusName());
        helper->stopHelper();
        QTRY_VERIFY(!client.helperBusName());
        QCOMPARE(losses, 0);

        // A new helper, a request that works, then its loss: announced once.
        helper->allow(true);
        QVERIFY2(helper->startHelper(&error), qPrintable(error));
        const auto enabled = QCoro::waitFor(client.setEnabled(true));
        QVERIFY2(enabled, qPrintable(enabled ? QString() : enabled.error()));
        QCOMPARE(enabled.value(), (ClamshellState{ ClamshellApproval::enabled, ClamshellActivation::ownedByApp }));
        helper->signalHelper(SIGKILL);
        QTRY_COMPARE(losses, 1);
        QTest::qWait(200);
        QCOMPARE(losses, 1);

        // The next request finds the next helper, which gave the setting back at its start.
        QVERIFY2(helper->startHelper(&error), qPrintable(error));
        QCOMPARE(QCoro::waitFor(client.currentState()),
            (ClamshellState{ ClamshellApproval::enabled, ClamshellActivation::off }));
    }
};

QTEST_GUILESS_MAIN(TestLidClosed)
#include "tst_lidclosed.moc"
