#include "AgentHarness.h"
#include "NoticeRecorder.h"
#include "RemoteMenuBar.h"
#include "StartOrSkip.h"

#include <QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

// Timed sessions end to end: the real agent and the real wakora command on
// private buses, logind and the notification server mocked.
class TestTimedSessions : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    QString error;
    static constexpr int suspendGrace = 2; // seconds

    DBusMock *startNotifications()
    {
        return harness->buses.startTemplate(MockBuses::session, QStringLiteral("notification_daemon"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"), &error,
            QStringLiteral("{\"capabilities\": \"body actions\"}"));
    }
    qsizetype suspends() { return harness->logind->callsOf(QStringLiteral("Suspend")).size(); }

    static QStringList words(std::initializer_list<const char *> items)
    {
        QStringList list;
        for (const char *word : items)
            list.append(QString::fromUtf8(word));
        return list;
    }

    QDBusConnection newConnection() { return harness->buses.bus(MockBuses::session).newConnection(); }

    std::unique_ptr<RemoteMenuBar> client(QDBusConnection bus)
    {
        return std::make_unique<RemoteMenuBar>(
            bus, AgentHarness::locations(), nullptr, nullptr, RemoteMenuBar::Options{});
    }

    QJsonObject statusJson()
    {
        QByteArray output;
        const int status = harness->wakora({ QStringLiteral("status"), QStringLiteral("--json") }, &output);
        if (status != 0)
            qWarning("wakora status --json exited %d: %s", status, output.constData());
        return QJsonDocument::fromJson(output).object();
    }

    QJsonArray historySessions()
    {
        QFile history(harness->home.filePath(QStringLiteral("data/Wakora/usage.json")));
        if (!history.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(history.readAll()).object().value(u"sessions").toArray();
    }

private Q_SLOTS:
    void init()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        // The warning before a "then suspend" lasts this long instead of a minute.
        harness->agentArguments = QStringList{ QStringLiteral("--suspend-grace"), QString::number(suspendGrace) };
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            harness->printLogs();
        harness.reset();
    }

    // logind announces a suspend and the resume: the usage session closes at
    // the first and a new one opens at the second, so the night is not
    // charted as time kept awake; the inhibit itself is kept.
    void aSuspendIsNotCountedAsTimeKeptAwake()
    {
        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        QTRY_COMPARE(historySessions().size(), 1);
        QVERIFY(!historySessions().first().toObject().contains(u"end"));

        const auto announce = [this](bool starting) {
            return harness->logind
                       ->mockCall(QStringLiteral("EmitSignal"),
                           { QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                               QStringLiteral("b"), QVariantList{ starting } })
                       .type()
                == QDBusMessage::ReplyMessage;
        };
        QVERIFY(announce(true));
        QTRY_VERIFY(historySessions().first().toObject().contains(u"end"));
        QTest::qWait(1200); // asleep
        QVERIFY(announce(false));
        QTRY_COMPARE(historySessions().size(), 2);
        const QJsonObject before = historySessions().at(0).toObject();
        const QJsonObject after = historySessions().at(1).toObject();
        QVERIFY(!after.contains(u"end"));
        QVERIFY2(after.value(u"start").toDouble() - before.value(u"end").toDouble() >= 1.0,
            "the time asleep counts as awake");
        QCOMPARE(statusJson().value(u"systemSleep").toBool(), true);
        QCOMPARE(harness->inhibitors().size(), 1);
    }

    void aTwoSecondSessionEndsItsKindsAndItsUsageSession()
    {
        QDBusConnection watcher = newConnection();
        NoticeRecorder notices(watcher);
        auto remote = client(watcher);
        QCoro::waitFor(remote->refresh()); // a client from now on

        QByteArray output;
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--display"), QStringLiteral("--for"),
                                     QStringLiteral("2s") },
                     &output),
            0);
        QVERIFY2(output.contains("남음"), output.constData());
        QCOMPARE(harness->inhibitors().size(), 2);
        QTRY_VERIFY(notices.count.load() >= 1);

        // What `status` says during a session is checked on a longer one
        // below: two more programs may not start within these 2 s on a busy
        // machine.
        const int noticesBefore = notices.count.load();
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 5000);
        // Clients hear of the end as of any other change.
        QTRY_VERIFY(notices.count.load() > noticesBefore);
        const QJsonObject after = statusJson();
        QVERIFY(!after.value(u"systemSleep").toBool());
        QVERIFY(after.value(u"timedSession").isNull());
        QVERIFY(after.value(u"activeSince").isNull());

        // The keep-awake session is in the history, closed.
        QTRY_VERIFY_WITH_TIMEOUT(
            historySessions().size() == 1 && historySessions().first().toObject().contains(u"end"), 3000);
        const QJsonObject session = historySessions().first().toObject();
        const double length = session.value(u"end").toDouble() - session.value(u"start").toDouble();
        QVERIFY2(length >= 1.5 && length < 5, qPrintable(QString::number(length)));
    }

    void aSwitchOffEndsTheTimerAndASwitchOnOutlastsIt()
    {
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--display"), QStringLiteral("--for"),
                     QStringLiteral("1h") }),
            0);
        QByteArray output;
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("끝나는 시각: ") && output.contains("남음"), output.constData());
        const QJsonObject during = statusJson();
        QVERIFY(during.value(u"systemSleep").toBool());
        const QJsonObject timed = during.value(u"timedSession").toObject();
        QCOMPARE(timed.value(u"kinds").toArray(),
            (QJsonArray{ QStringLiteral("systemSleep"), QStringLiteral("displaySleep") }));
        const qint64 remaining = timed.value(u"remainingSeconds").toInteger();
        QVERIFY2(remaining > 3590 && remaining <= 3600, qPrintable(QString::number(remaining)));
        // A plain `off` is the user taking over: both kinds off, no timer.
        QCOMPARE(harness->wakora({ QStringLiteral("off"), QStringLiteral("--display") }), 0);
        QVERIFY(harness->inhibitors().isEmpty());
        QVERIFY(statusJson().value(u"timedSession").isNull());

        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--for"), QStringLiteral("1h") }), 0);
        QCOMPARE(harness->inhibitors().size(), 1);

        QCOMPARE(harness->wakora({ QStringLiteral("toggle") }, &output), 0);
        QVERIFY2(output.contains("잠자기 방지: 꺼짐"), output.constData());
        QVERIFY(harness->inhibitors().isEmpty());
        QVERIFY(statusJson().value(u"timedSession").isNull());
        QCOMPARE(harness->wakora({ QStringLiteral("toggle") }), 0);
        QCOMPARE(harness->inhibitors().size(), 1);
        QVERIFY(statusJson().value(u"timedSession").isNull());

        // `wakora on` over a running timer is a claim of its own, which
        // outlasts the timer; both are listed as reasons.
        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--for"), QStringLiteral("30m") }), 0);
        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        const QJsonObject both = statusJson();
        QVERIFY(!both.value(u"timedSession").isNull());
        const QJsonArray claims = both.value(u"claims").toArray();
        QCOMPARE(claims.size(), 2);
        QCOMPARE(claims.at(0).toObject().value(u"owner").toString(), QStringLiteral("timer"));
        QVERIFY(claims.at(0).toObject().value(u"text").toString().startsWith(QStringLiteral("타이머: 30분 남음")));
        QCOMPARE(claims.at(1).toObject().value(u"owner").toString(), QStringLiteral("switch"));
        QCOMPARE(claims.at(1).toObject().value(u"text").toString(), QStringLiteral("직접 켬"));
        QCOMPARE(both.value(u"vetoes").toArray(), QJsonArray());
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("켜 둔 이유: 타이머: 30분 남음, 직접 켬\n"), output.constData());
        QCOMPARE(harness->inhibitors().size(), 1);
    }

    void untilAClockTime()
    {
        const QTime inTwoHours = QTime::currentTime().addSecs(2 * 3600);
        const QString clock = inTwoHours.toString(QStringLiteral("HH:mm"));
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--until"), clock }), 0);
        const qint64 remaining = statusJson().value(u"timedSession").toObject().value(u"remainingSeconds").toInteger();
        // Two hours less the seconds of this minute gone, give or take a DST change tonight.
        QVERIFY2(remaining > 3600 && remaining <= 3 * 3600, qPrintable(QString::number(remaining)));
        QCOMPARE(harness->inhibitors().size(), 1);

        auto remote = client(newConnection());
        QVERIFY(QCoro::waitFor(remote->cancelTimedSession()));
        QVERIFY(harness->inhibitors().isEmpty());
        const auto state = QCoro::waitFor(remote->timedSession());
        QVERIFY(state);
        QCOMPARE(state.value().kinds, qint64(0));
        QVERIFY(!state.value().endsAt);
    }

    void badLengthsAndTimesAreRefusedWithAReason_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("says");
        QTest::newRow("bare number") << words({ "on", "--for", "90" }) << QByteArray("잘못된 시간 길이");
        QTest::newRow("fraction") << words({ "on", "--for=1.5h" }) << QByteArray("잘못된 시간 길이");
        QTest::newRow("too long") << words({ "on", "--for", "200h" }) << QByteArray("7일");
        QTest::newRow("zero") << words({ "on", "--for", "0m" }) << QByteArray("0보다");
        QTest::newRow("no value") << words({ "on", "--for" }) << QByteArray("값이 와야");
        QTest::newRow("hour 25") << words({ "on", "--until", "25:00" }) << QByteArray("잘못된 시각");
        QTest::newRow("no colon") << words({ "on", "--until", "1830" }) << QByteArray("잘못된 시각");
        QTest::newRow("both") << words({ "on", "--for", "1h", "--until", "18:30" }) << QByteArray("하나만");
        QTest::newRow("toggle --json") << words({ "toggle", "--json" }) << QByteArray("알 수 없는 옵션");
        QTest::newRow("off --for") << words({ "off", "--for", "1h" }) << QByteArray("알 수 없는 옵션");
    }

    void badLengthsAndTimesAreRefusedWithAReason()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, says);
        QByteArray output;
        QCOMPARE(harness->wakora(arguments, &output), 2);
        QVERIFY2(output.contains(says), output.constData());
        QVERIFY(harness->inhibitors().isEmpty());
    }

    void theAgentRefusesBadRequestsAndForeignCallers()
    {
        QDBusConnection bus = newConnection();
        const auto call = [&](const QString &method, const QVariantList &arguments) {
            QDBusMessage message = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
                MenuBarService::objectPath(), MenuBarService::sessionsInterfaceName(), method);
            message.setArguments(arguments);
            return bus.call(message, QDBus::Block, 15000);
        };
        const auto failure = [](const QDBusMessage &reply) { return reply.arguments().value(0).toStringList(); };
        QCOMPARE(failure(call(QStringLiteral("StartTimedSession"), { qlonglong(4), qlonglong(60) })),
            QStringList{ QStringLiteral("Invalid kinds") });
        QCOMPARE(failure(call(QStringLiteral("StartTimedSession"), { qlonglong(1), qlonglong(-60) })),
            QStringList{ QStringLiteral("Invalid duration") });
        QCOMPARE(failure(call(QStringLiteral("StartTimedSessionUntil"), { qlonglong(1), 1.0 })),
            QStringList{ QStringLiteral("Invalid end time") });
        QCOMPARE(failure(call(QStringLiteral("StartTimedSessionUntil"), { qlonglong(1), qQNaN() })),
            QStringList{ QStringLiteral("Invalid end time") });
        QCOMPARE(call(QStringLiteral("StartTimedSession"), { QStringLiteral("1"), qlonglong(60) }).errorName(),
            QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
        QVERIFY(harness->inhibitors().isEmpty());

        QProcess gdbus;
        gdbus.setProcessEnvironment(harness->environment());
        gdbus.start(QStringLiteral("gdbus"),
            { QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                MenuBarService::machServiceName(), QStringLiteral("--object-path"), MenuBarService::objectPath(),
                QStringLiteral("--method"),
                MenuBarService::sessionsInterfaceName() + QStringLiteral(".StartTimedSession"), QStringLiteral("1"),
                QStringLiteral("60") });
        if (!gdbus.waitForStarted())
            QSKIP("gdbus is not installed (Debian: libglib2.0-bin)");
        QVERIFY(gdbus.waitForFinished(15000));
        QVERIFY2(gdbus.readAllStandardError().contains("org.freedesktop.DBus.Error.AccessDenied"),
            "the refusal is AccessDenied");
        QVERIFY(harness->inhibitors().isEmpty());
    }

    // An inhibitor dies with its agent; the next agent must not claim a
    // session it cannot be holding.
    void aKilledAgentsTimerIsNotResumed()
    {
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--for"), QStringLiteral("1h") }), 0);
        QCOMPARE(harness->inhibitors().size(), 1);
        harness->signalAgent(SIGKILL);
        QVERIFY(harness->agent->waitForFinished(5000));
        QTRY_VERIFY(harness->inhibitors().isEmpty());
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        const QJsonObject status = statusJson();
        QVERIFY(!status.value(u"systemSleep").toBool());
        QVERIFY(status.value(u"timedSession").isNull());
        QVERIFY(harness->inhibitors().isEmpty());
    }

    void theEndIsAnnouncedAndCanBeExtended()
    {
        DBusMock *notifications
            = harness->buses.startTemplate(MockBuses::session, QStringLiteral("notification_daemon"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                &error, QStringLiteral("{\"capabilities\": \"body actions\"}"));
        QVERIFY2(notifications, qPrintable(error));

        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--for"), QStringLiteral("1s") }), 0);
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 5000);
        QTRY_COMPARE(notifications->callsOf(QStringLiteral("Notify")).size(), 1);
        const QVariantList notice = notifications->callsOf(QStringLiteral("Notify")).first();
        QCOMPARE(notice.value(0).toString(), QStringLiteral("Wakora"));
        QVERIFY(!notice.value(3).toString().isEmpty());
        QCOMPARE(
            notice.value(5).toStringList(), (QStringList{ QStringLiteral("extend"), QStringLiteral("1시간 연장") }));

        // The user picks the action: an hour more, the same kinds back on.
        const QVariantList signalArguments{ QVariant::fromValue(quint32(1)), QStringLiteral("extend") };
        QCOMPARE(notifications
                     ->mockCall(QStringLiteral("EmitSignal"),
                         { QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"),
                             QStringLiteral("us"), QVariant::fromValue(signalArguments) })
                     .type(),
            QDBusMessage::ReplyMessage);
        QTRY_COMPARE(harness->inhibitors().size(), 1);
        const qint64 remaining = statusJson().value(u"timedSession").toObject().value(u"remainingSeconds").toInteger();
        QVERIFY2(remaining > 3590 && remaining <= 3600, qPrintable(QString::number(remaining)));

        // An action of someone else's notice does nothing.
        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        const QVariantList foreign{ QVariant::fromValue(quint32(77)), QStringLiteral("extend") };
        notifications->mockCall(QStringLiteral("EmitSignal"),
            { QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"), QStringLiteral("us"),
                QVariant::fromValue(foreign) });
        QTest::qWait(300);
        QVERIFY(harness->inhibitors().isEmpty());
    }

    // logind is python-dbusmock's: a real one cannot run on a private bus,
    // and would put this machine to sleep.
    void thenSuspendWarnsAndSuspendsThroughLogind()
    {
        DBusMock *notifications = startNotifications();
        QVERIFY2(notifications, qPrintable(error));
        QByteArray output;
        QCOMPARE(harness->wakora(words({ "on", "--for", "2s", "--then-suspend" }), &output), 0);
        QVERIFY2(output.contains("끝나면 잠자기"), output.constData());

        QTRY_COMPARE_WITH_TIMEOUT(notifications->callsOf(QStringLiteral("Notify")).size(), 1, 6000);
        const QVariantList notice = notifications->callsOf(QStringLiteral("Notify")).first();
        QCOMPARE(notice.value(3).toString(), QStringLiteral("곧 잠자기 모드로 전환합니다"));
        QVERIFY2(
            notice.value(4).toString().contains(QStringLiteral("취소")), qUtf8Printable(notice.value(4).toString()));
        QCOMPARE(
            notice.value(5).toStringList(), (QStringList{ QStringLiteral("cancel-suspend"), QStringLiteral("취소") }));
        QVERIFY(harness->inhibitors().isEmpty());
        QCOMPARE(suspends(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(suspends(), 1, 3000 * suspendGrace);
        QCOMPARE(harness->logind->callsOf(QStringLiteral("Suspend")).first(), QVariantList{ QVariant(false) });
        // The warning is taken down, and no notice of a plain end came.
        QTRY_COMPARE(notifications->callsOf(QStringLiteral("CloseNotification")).size(), 1);
        QCOMPARE(notifications->callsOf(QStringLiteral("Notify")).size(), 1);
    }

    void theWarningsCancelKeepsTheMachineAwake()
    {
        DBusMock *notifications = startNotifications();
        QVERIFY2(notifications, qPrintable(error));
        QCOMPARE(harness->wakora(words({ "on", "--for", "1s", "--then-suspend" })), 0);
        QTRY_COMPARE_WITH_TIMEOUT(notifications->callsOf(QStringLiteral("Notify")).size(), 1, 5000);
        // The mock numbers its notices from 1.
        const QVariantList chosen{ QVariant::fromValue(quint32(1)), QStringLiteral("cancel-suspend") };
        QCOMPARE(notifications
                     ->mockCall(QStringLiteral("EmitSignal"),
                         { QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"),
                             QStringLiteral("us"), QVariant::fromValue(chosen) })
                     .type(),
            QDBusMessage::ReplyMessage);
        QTest::qWait(1000 * suspendGrace + 1000);
        QCOMPARE(suspends(), 0);
        QCOMPARE(harness->agent->state(), QProcess::Running);
    }

    void statusShowsThenSuspendAndOffEndsWithoutIt()
    {
        QCOMPARE(harness->wakora(words({ "on", "--until", "23:59", "--then-suspend" })), 0);
        const QJsonObject timed = statusJson().value(u"timedSession").toObject();
        QVERIFY(timed.value(u"thenSuspend").toBool());
        QByteArray output;
        QCOMPARE(harness->wakora(words({ "status" }), &output), 0);
        QVERIFY2(output.contains("끝나면 잠자기"), output.constData());

        // A session started plainly over it ends without sleep: the latest start says.
        QCOMPARE(harness->wakora(words({ "on", "--for", "1h" })), 0);
        QVERIFY(!statusJson().value(u"timedSession").toObject().value(u"thenSuspend").toBool());

        // Switched off before its end, it ends without sleep, then and later.
        QCOMPARE(harness->wakora(words({ "on", "--for", "3s", "--then-suspend" })), 0);
        QCOMPARE(harness->wakora(words({ "off" })), 0);
        QVERIFY(statusJson().value(u"timedSession").isNull());
        QTest::qWait(3000 + 1000 * suspendGrace + 1000);
        QCOMPARE(suspends(), 0);
    }

    void withoutANotificationServerTheSessionStillEnds()
    {
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--for"), QStringLiteral("1s") }), 0);
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 5000);
        QTest::qWait(200);
        QCOMPARE(harness->agent->state(), QProcess::Running);
        QVERIFY(statusJson().value(u"timedSession").isNull());
    }
};

QTEST_GUILESS_MAIN(TestTimedSessions)
#include "tst_timedsessions.moc"
