#include "AgentHarness.h"
#include "HelperHarness.h"
#include "StartOrSkip.h"

#include <QDBusObjectPath>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

// The guards of a closed laptop end to end: the wakora command, the real
// agent, the real helper and wakora-pmset that turn the lid-closed mode on
// and off, logind's LidClosed and Docked and UPower mocked on the private
// system bus (nothing real can run there without the machine's own
// systemd), the notification server mocked on the session bus, and a fake
// thermal tree. Each guard gives the mode back once, says why, and leaves
// the switch's keep-awake claim as it was.
class TestLidGuardsAgent : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> agent;
    std::unique_ptr<HelperHarness> helper;
    std::unique_ptr<QTemporaryDir> thermal;
    DBusMock *upower = nullptr;
    DBusMock *notifications = nullptr;
    QString error;

    void writeZone(qint64 millidegrees)
    {
        const QString zone = thermal->filePath(QStringLiteral("thermal_zone0"));
        QDir().mkpath(zone);
        const QList<std::pair<QString, QByteArray>> files{ { QStringLiteral("type"), "x86_pkg_temp" },
            { QStringLiteral("temp"), QByteArray::number(millidegrees) },
            { QStringLiteral("trip_point_0_type"), "passive" }, { QStringLiteral("trip_point_0_temp"), "95000" },
            { QStringLiteral("trip_point_1_type"), "critical" }, { QStringLiteral("trip_point_1_temp"), "105000" } };
        for (const auto &[name, text] : files) {
            QFile file(zone + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text + '\n');
        }
    }

    // As the machine does it: logind's values change without a signal (its
    // LidClosed and Docked do not emit changes), and UPower, which watches
    // the same switch, announces its LidIsClosed.
    bool setLid(bool closed, bool docked = false)
    {
        const QDBusMessage reply = agent->logind->call(QStringLiteral("/org/freedesktop/login1"),
            InhibitMocks::logindInterface, QStringLiteral("SetLidQuietly"), { closed, docked });
        return reply.type() == QDBusMessage::ReplyMessage
            && upower->updateProperties(
                QStringLiteral("org.freedesktop.UPower"), { { QStringLiteral("LidIsClosed"), closed } });
    }

    bool setOnBattery(bool onBattery)
    {
        return upower->updateProperties(
            QStringLiteral("org.freedesktop.UPower"), { { QStringLiteral("OnBattery"), onBattery } });
    }

    // The notices about the lid; a broken condition also has one of its own about the switch.
    QList<QVariantList> notices()
    {
        QList<QVariantList> lid;
        for (const QVariantList &call : notifications->callsOf(QStringLiteral("Notify")))
            if (call.value(3).toString() == u"덮개를 닫아도 유지가 꺼졌습니다")
                lid.append(call);
        return lid;
    }

    QJsonObject status()
    {
        QByteArray output;
        if (agent->wakora({ QStringLiteral("status"), QStringLiteral("--json") }, &output) != 0)
            return {};
        return QJsonDocument::fromJson(output).object();
    }

    void turnLidModeOn()
    {
        QByteArray output;
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("on") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 켜짐"), output.constData());
        QVERIFY(helper->markerExists());
    }

    // Only the lid-closed mode ended: the marker and logind's drop-in are
    // gone, the switch's claim and its inhibitor stay.
    void onlyTheLidModeEnded(const QString &reason)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!helper->markerExists(), 10000);
        QVERIFY(!helper->dropInExists());
        QTRY_VERIFY_WITH_TIMEOUT(!notices().isEmpty(), 5000);
        QCOMPARE(notices().size(), 1);
        QVERIFY2(
            notices().last().value(4).toString().contains(reason), qPrintable(notices().last().value(4).toString()));
        const QJsonObject now = status();
        QCOMPARE(now.value(u"clamshell").toInt(), 0);
        QCOMPARE(now.value(u"claims").toArray().size(), 1);
        QCOMPARE(
            now.value(u"claims").toArray().first().toObject().value(u"owner").toString(), QStringLiteral("switch"));
    }

private Q_SLOTS:
    void init()
    {
        agent = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(agent->start());
        helper = std::make_unique<HelperHarness>();
        WAKORA_START_OR_SKIP(helper->start(agent->buses, agent->logind));
        QVERIFY(agent->logind->addProperty(InhibitMocks::logindInterface, QStringLiteral("LidClosed"), false));
        QVERIFY(agent->logind->addProperty(InhibitMocks::logindInterface, QStringLiteral("Docked"), false));
        QVERIFY(agent->logind->addMethod(InhibitMocks::logindInterface, QStringLiteral("SetLidQuietly"),
            QStringLiteral("bb"), QString(),
            QStringLiteral("self.props['%1']['LidClosed'] = args[0]; self.props['%1']['Docked'] = args[1]")
                .arg(InhibitMocks::logindInterface)));
        QVERIFY2(helper->startHelper(&error, false), qPrintable(error));
        thermal = std::make_unique<QTemporaryDir>();
        writeZone(60000);
        upower = agent->buses.startTemplate(MockBuses::system, QStringLiteral("upower"),
            QStringLiteral("org.freedesktop.UPower"), QStringLiteral("/org/freedesktop/UPower"), &error);
        QVERIFY2(upower, qPrintable(error));
        notifications = agent->buses.startTemplate(MockBuses::session, QStringLiteral("notification_daemon"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"), &error);
        QVERIFY2(notifications, qPrintable(error));
        agent->agentArguments = { QStringLiteral("--thermal-zones"), thermal->path() };
        QVERIFY2(agent->startAgent(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            agent->printLogs();
            qInfo().noquote() << "---- helper ----\n" << helper->helperLog();
        }
        agent->stopAgent();
        helper.reset();
        agent.reset();
    }

    void aHotZoneWithTheLidClosedGivesTheModeBack()
    {
        QCOMPARE(agent->wakora({ QStringLiteral("on") }), 0);
        turnLidModeOn();
        writeZone(97000);
        // The lid is open: the zones are not even read.
        QTest::qWait(500);
        QVERIFY(helper->markerExists());
        QVERIFY(setLid(true));
        onlyTheLidModeEnded(QStringLiteral("x86_pkg_temp"));
        QCOMPARE(agent->inhibitors().size(), 1);
        QVERIFY(agent->agentLog().contains(u"Giving the lid-closed mode back"));
    }

    void aCoolMachineWithTheLidClosedKeepsTheMode()
    {
        turnLidModeOn();
        QVERIFY(setLid(true));
        QTest::qWait(800);
        QVERIFY(helper->markerExists());
        QVERIFY(notices().isEmpty());
        QCOMPARE(status().value(u"clamshell").toInt(), 1);
    }

    void unpluggedUnderOnlyOnACGivesTheModeBackAndRefusesItAgain()
    {
        QCOMPARE(agent->wakora({ QStringLiteral("rule"), QStringLiteral("ac"), QStringLiteral("on") }), 0);
        QCOMPARE(agent->wakora({ QStringLiteral("on") }), 0);
        turnLidModeOn();
        QVERIFY(setOnBattery(true));
        onlyTheLidModeEnded(QStringLiteral("전원 어댑터가 분리되었습니다."));
        // The switch's claim is vetoed, not ended: it is held again on mains power.
        QCOMPARE(status().value(u"vetoes").toArray().size(), 1);

        QByteArray output;
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("on") }, &output), 1);
        QVERIFY2(output.contains("전원 어댑터가 분리되었습니다."), output.constData());
        QVERIFY(!helper->markerExists());

        // Back on mains power the switch is held again; the mode stays off
        // until asked for (it was given back, not suspended).
        QVERIFY(setOnBattery(false));
        QTRY_COMPARE_WITH_TIMEOUT(agent->inhibitors().size(), 1, 5000);
        QTest::qWait(300);
        QVERIFY(!helper->markerExists());
        // Without the guard, the conditions no longer reach the mode.
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("guard"), QStringLiteral("power"),
                     QStringLiteral("off") }),
            0);
        QVERIFY(setOnBattery(true));
        turnLidModeOn();
        QTest::qWait(500);
        QVERIFY(helper->markerExists());
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("off") }), 0);
    }

    void theGuardsAreSetFromTheCommandShownAndKept()
    {
        QByteArray output;
        QCOMPARE(agent->wakora({ QStringLiteral("lid") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 꺼짐\n덮개 보호: 전원 조건 적용: 켜짐\n"
                                 "덮개 보호: 배터리로 닫힌 채 외부 디스플레이 없이: 10분 후 끔\n"
                                 "덮개 보호: 과열되면 끔: 켜짐"),
            output.constData());
        QCOMPARE(agent->wakora(
                     { QStringLiteral("lid"), QStringLiteral("guard"), QStringLiteral("bag"), QStringLiteral("25m") },
                     &output),
            0);
        QVERIFY2(output.contains("25분 후 끔"), output.constData());
        QCOMPARE(agent->wakora({ QStringLiteral("lid"), QStringLiteral("guard"), QStringLiteral("thermal"),
                     QStringLiteral("off") }),
            0);
        for (const QStringList &bad :
            { QStringList{ QStringLiteral("guard"), QStringLiteral("bag"), QStringLiteral("0") },
                QStringList{ QStringLiteral("guard"), QStringLiteral("bag"), QStringLiteral("241") },
                QStringList{ QStringLiteral("guard"), QStringLiteral("thermal"), QStringLiteral("maybe") },
                QStringList{ QStringLiteral("guard"), QStringLiteral("power") },
                QStringList{ QStringLiteral("maybe") } }) {
            QCOMPARE(agent->wakora(QStringList{ QStringLiteral("lid") } + bad, &output), 2);
            QVERIFY2(!output.isEmpty(), qPrintable(bad.join(u' ')));
        }

        agent->stopAgent();
        QVERIFY2(agent->startAgent(&error), qPrintable(error));
        QCOMPARE(status().value(u"lidGuards").toObject(),
            (QJsonObject{ { QStringLiteral("powerRules"), true }, { QStringLiteral("bagMinutes"), 25 },
                { QStringLiteral("thermal"), false } }));
        QCOMPARE(agent->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("덮개 보호: 과열되면 끔: 꺼짐"), output.constData());

        // The agent checks for itself too.
        QDBusMessage call = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
            MenuBarService::objectPath(), MenuBarService::sessionsInterfaceName(), QStringLiteral("SetLidGuards"));
        call.setArguments({ true, qint32(500), true });
        const QDBusMessage reply = agent->buses.bus(MockBuses::session).newConnection().call(call, QDBus::Block, 15000);
        QCOMPARE(reply.arguments().value(0).toStringList(), QStringList{ QStringLiteral("Invalid minutes") });
        QCOMPARE(status().value(u"lidGuards").toObject().value(u"bagMinutes").toInt(), 25);
    }
};

QTEST_GUILESS_MAIN(TestLidGuardsAgent)
#include "tst_lidguards.moc"
