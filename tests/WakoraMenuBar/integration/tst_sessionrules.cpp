#include "AgentHarness.h"
#include "StartOrSkip.h"

#include <QDBusObjectPath>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The conditions end to end: the real agent and wakora command, UPower and
// the notification server mocked on the private buses.
class TestSessionRules : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    QString error;
    DBusMock *upower = nullptr;
    DBusMock *notifications = nullptr;

    bool setOnBattery(bool onBattery)
    {
        return upower->updateProperties(
            QStringLiteral("org.freedesktop.UPower"), { { QStringLiteral("OnBattery"), onBattery } });
    }

    bool setPercentage(double percent)
    {
        const QVariantMap properties{ { QStringLiteral("Percentage"), percent } };
        return upower
                   ->mockCall(QStringLiteral("SetDeviceProperties"),
                       { QVariant::fromValue(
                             QDBusObjectPath(QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice"))),
                           properties })
                   .type()
            == QDBusMessage::ReplyMessage;
    }

    QString lastNoticeBody()
    {
        const auto calls = notifications->callsOf(QStringLiteral("Notify"));
        return calls.isEmpty() ? QString() : calls.last().value(4).toString();
    }

private Q_SLOTS:
    void init()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        // UPower appears after the agent, as after a restart of UPower.
        upower = harness->buses.startTemplate(MockBuses::system, QStringLiteral("upower"),
            QStringLiteral("org.freedesktop.UPower"), QStringLiteral("/org/freedesktop/UPower"), &error);
        QVERIFY2(upower, qPrintable(error));
        notifications = harness->buses.startTemplate(MockBuses::session, QStringLiteral("notification_daemon"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"), &error,
            QStringLiteral("{\"capabilities\": \"body actions\"}"));
        QVERIFY2(notifications, qPrintable(error));
        QVERIFY(setPercentage(80));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            harness->printLogs();
        harness.reset();
    }

    void unpluggedNothingIsHeldAndPluggedInTheSessionReturns()
    {
        QByteArray output;
        QCOMPARE(harness->wakora({ QStringLiteral("rule"), QStringLiteral("ac"), QStringLiteral("on") }, &output), 0);
        QVERIFY2(output.contains("AC 전원에서만: 켜짐"), output.constData());
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--display"), QStringLiteral("--for"),
                     QStringLiteral("1h") }),
            0);
        QCOMPARE(harness->inhibitors().size(), 2);
        QTest::qWait(300);
        QCOMPARE(harness->inhibitors().size(), 2); // plugged in: it holds

        QVERIFY(setOnBattery(true));
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 5000);
        QTRY_VERIFY(lastNoticeBody().contains(QStringLiteral("전원 어댑터")));
        // No hour more offered: the rule would end it again at once.
        QCOMPARE(notifications->callsOf(QStringLiteral("Notify")).last().value(5).toStringList(), QStringList());
        // Nothing is held, and the session waits it out, still counting.
        QCOMPARE(harness->wakora({ QStringLiteral("status"), QStringLiteral("--json") }, &output), 0);
        const QJsonObject status = QJsonDocument::fromJson(output).object();
        QVERIFY(!status.value(u"timedSession").isNull());
        QVERIFY(!status.value(u"systemSleep").toBool());
        QCOMPARE(status.value(u"claims").toArray().size(), 1);
        QCOMPARE(status.value(u"vetoes").toArray(), QJsonArray{ QStringLiteral("전원 어댑터가 분리되어 꺼 둠") });
        QVERIFY(status.value(u"rules").toObject().value(u"onlyOnAC").toBool());
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("꺼 둔 이유: 전원 어댑터가 분리되어 꺼 둠\n"), output.constData());

        // While unplugged, turning on is refused with the reason, not
        // answered with a success that the rule undoes at once.
        QCOMPARE(harness->wakora({ QStringLiteral("on") }, &output), 1);
        QVERIFY2(output.contains("전원 어댑터"), output.constData());
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--for"), QStringLiteral("1h") }, &output), 1);
        QVERIFY2(output.contains("전원 어댑터"), output.constData());
        QVERIFY(harness->inhibitors().isEmpty());

        // Plugged in again, the session's claim is held again, and a switch
        // can be turned on.
        QVERIFY(setOnBattery(false));
        QTRY_COMPARE_WITH_TIMEOUT(harness->inhibitors().size(), 2, 5000);
        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        QTest::qWait(300);
        QCOMPARE(harness->inhibitors().size(), 2);
    }

    void aBatteryBelowTheFloorEndsTheSession()
    {
        QCOMPARE(harness->wakora({ QStringLiteral("rule"), QStringLiteral("battery"), QStringLiteral("10%") }), 0);
        QVERIFY(setOnBattery(true));
        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        QVERIFY(setPercentage(10));
        QTest::qWait(300);
        QCOMPARE(harness->inhibitors().size(), 1); // at the floor, not below it
        QVERIFY(setPercentage(9));
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 5000);
        QTRY_VERIFY(lastNoticeBody().contains(QStringLiteral("10%")));
        // Charged above the floor again, the switch's claim returns.
        QVERIFY(setPercentage(11));
        QTRY_COMPARE_WITH_TIMEOUT(harness->inhibitors().size(), 1, 5000);
    }

    void rulesOutliveTheAgentAndBadOnesAreRefused()
    {
        QCOMPARE(harness->wakora({ QStringLiteral("rule"), QStringLiteral("battery"), QStringLiteral("15") }), 0);
        QCOMPARE(harness->wakora({ QStringLiteral("rule"), QStringLiteral("ac"), QStringLiteral("on") }), 0);
        harness->stopAgent();
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QByteArray output;
        QCOMPARE(harness->wakora({ QStringLiteral("rule") }, &output), 0);
        QVERIFY2(output.contains("AC 전원에서만: 켜짐\n배터리 하한: 15%"), output.constData());

        for (const QStringList &bad : { QStringList{ QStringLiteral("battery"), QStringLiteral("0") },
                 QStringList{ QStringLiteral("battery"), QStringLiteral("100") },
                 QStringList{ QStringLiteral("battery"), QStringLiteral("ten") },
                 QStringList{ QStringLiteral("ac"), QStringLiteral("maybe") }, QStringList{ QStringLiteral("app") } }) {
            QCOMPARE(harness->wakora(QStringList{ QStringLiteral("rule") } + bad, &output), 2);
            QVERIFY2(!output.isEmpty(), qPrintable(bad.join(u' ')));
        }
        QCOMPARE(
            harness->wakora({ QStringLiteral("rule"), QStringLiteral("battery"), QStringLiteral("off") }, &output), 0);
        QVERIFY2(output.contains("배터리 하한: 없음"), output.constData());

        // The agent checks for itself too.
        QDBusMessage call = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
            MenuBarService::objectPath(), MenuBarService::sessionsInterfaceName(), QStringLiteral("SetRules"));
        call.setArguments({ false, qint32(150) });
        const QDBusMessage reply
            = harness->buses.bus(MockBuses::session).newConnection().call(call, QDBus::Block, 15000);
        QCOMPARE(reply.arguments().value(0).toStringList(), QStringList{ QStringLiteral("Invalid battery level") });
        QCOMPARE(harness->wakora({ QStringLiteral("rule") }, &output), 0);
        QVERIFY2(output.contains("AC 전원에서만: 켜짐"), output.constData());
    }

    // Desktops start an application in a unit of the user's service
    // manager named after its desktop entry; a Flatpak's is named after its
    // app id. This machine runs no user manager, so the agent follows a
    // stand-in cgroup tree, where the test makes and removes the units'
    // directories as systemd would.
    void anApplicationInAUnitOfItsOwnIsFollowedByItsUnits()
    {
        QTemporaryDir units;
        const QString slice = units.filePath(QStringLiteral("app.slice"));
        QVERIFY(QDir().mkpath(slice));
        const QString entries = harness->home.filePath(QStringLiteral("data/applications"));
        QVERIFY(QDir().mkpath(entries));
        QFile entry(entries + QStringLiteral("/org.example.Viewer.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Viewer\nExec=/nonexistent/viewer\n");
        entry.close();
        harness->stopAgent();
        harness->agentArguments = { QStringLiteral("--app-units"), units.path() };
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QCOMPARE(harness->wakora({ QStringLiteral("rule"), QStringLiteral("app"), QStringLiteral("Viewer") }), 0);
        QTest::qWait(300);
        QVERIFY(harness->inhibitors().isEmpty());

        // Started from the desktop: its unit appears, and goes when it ends.
        const QString gnome = slice + QStringLiteral("/app-gnome-org.example.Viewer-4711.scope");
        QVERIFY(QDir().mkdir(gnome));
        QTRY_COMPARE_WITH_TIMEOUT(harness->inhibitors().size(), 1, 3000);
        QByteArray output;
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("켜 둔 이유: Viewer 실행 중\n"), output.constData());
        QVERIFY(QDir().rmdir(gnome));
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 3000);
        QTRY_VERIFY(lastNoticeBody().contains(QStringLiteral("Viewer")));

        // The same application as a Flatpak, by its app id.
        const QString flatpak = slice + QStringLiteral("/app-flatpak-org.example.Viewer-90210.scope");
        QVERIFY(QDir().mkdir(flatpak));
        QTRY_COMPARE_WITH_TIMEOUT(harness->inhibitors().size(), 1, 3000);
        // Switched off by hand, the claim ends until the next start.
        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        QVERIFY(harness->inhibitors().isEmpty());
        QVERIFY(QDir().rmdir(flatpak));
        QVERIFY(QDir().mkdir(flatpak));
        QTRY_COMPARE_WITH_TIMEOUT(harness->inhibitors().size(), 1, 3000);
        QVERIFY(QDir().rmdir(flatpak));
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 3000);
    }

    // A stand-in application: a copy of sleep(1) under a name of its own, and
    // a desktop entry that runs it, so the directory knows its processes.
    void anApplicationKeepsTheMachineAwakeWhileItRuns()
    {
        const QString program = harness->home.filePath(QStringLiteral("bin/wakora-standin"));
        QVERIFY(QDir().mkpath(QFileInfo(program).path()));
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), program));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString entries = harness->home.filePath(QStringLiteral("data/applications"));
        QVERIFY(QDir().mkpath(entries));
        QFile entry(entries + QStringLiteral("/org.example.Standin.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Standin\nExec=" + QFile::encodeName(program) + " 60\n");
        entry.close();
        // The agent reads the directory as it starts.
        harness->stopAgent();
        QVERIFY2(harness->startAgent(&error), qPrintable(error));

        QByteArray output;
        QCOMPARE(harness->wakora(
                     { QStringLiteral("rule"), QStringLiteral("app"), QStringLiteral("org.example.Missing") }, &output),
            1);
        QVERIFY2(output.contains("Unknown application"), output.constData());
        QCOMPARE(
            harness->wakora({ QStringLiteral("rule"), QStringLiteral("app"), QStringLiteral("Standin") }, &output), 0);
        QVERIFY2(output.contains("이 앱이 실행 중일 때: org.example.Standin"), output.constData());
        QTest::qWait(500);
        QVERIFY(harness->inhibitors().isEmpty()); // not running yet

        QProcess standin;
        standin.start(program, { QStringLiteral("60") });
        QVERIFY(standin.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(harness->inhibitors().size(), 1, 6000);
        standin.kill();
        standin.waitForFinished();
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 6000);
        QTRY_VERIFY(lastNoticeBody().contains(QStringLiteral("Standin")));

        // The rule outlives the agent, and goes with "off".
        harness->stopAgent();
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QCOMPARE(harness->wakora({ QStringLiteral("rule") }, &output), 0);
        QVERIFY2(output.contains("이 앱이 실행 중일 때: org.example.Standin"), output.constData());
        QCOMPARE(harness->wakora({ QStringLiteral("rule"), QStringLiteral("app"), QStringLiteral("off") }, &output), 0);
        QVERIFY2(output.contains("이 앱이 실행 중일 때: 없음"), output.constData());
        standin.start(program, { QStringLiteral("60") });
        QVERIFY(standin.waitForStarted());
        QTest::qWait(3000);
        QVERIFY(harness->inhibitors().isEmpty());
        standin.kill();
        standin.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestSessionRules)
#include "tst_sessionrules.moc"
