#include "AgentHarness.h"
#include "NoticeRecorder.h"
#include "RemoteMenuBar.h"
#include "StartOrSkip.h"

#include <QCoroTask>
#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace InhibitMocks;

// The agent as a whole: real WakoraMenuBar, real clients, mocked logind.
class TestAgent : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    QString error;

    std::unique_ptr<RemoteMenuBar> client(
        QDBusConnection bus, std::chrono::milliseconds retry = std::chrono::seconds(3))
    {
        RemoteMenuBar::Options options;
        options.retryInterval = retry;
        auto remote = std::make_unique<RemoteMenuBar>(bus, AgentHarness::locations(), nullptr, nullptr, options);
        return remote;
    }

    QDBusConnection newConnection() { return harness->buses.bus(MockBuses::session).newConnection(); }

    QDBusMessage request(QDBusConnection bus, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            MenuBarService::machServiceName(), MenuBarService::objectPath(), MenuBarService::interfaceName(), method);
        call.setArguments(arguments);
        return bus.call(call, QDBus::Block, 15000);
    }

    static QStringList failureOf(const QDBusMessage &reply) { return reply.arguments().value(0).toStringList(); }

private Q_SLOTS:
    void init()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            harness->printLogs();
        harness.reset();
    }

    void aToggleReachesLogindAndEveryClient()
    {
        auto first = client(newConnection());
        auto second = client(newConnection());
        QCoro::waitFor(first->refresh());
        QCoro::waitFor(second->refresh());
        QVERIFY(first->isAvailable());
        QVERIFY(second->isAvailable());
        QCOMPARE(first->ownerPID(), qint32(harness->agent->processId()));

        QVERIFY(QCoro::waitFor(first->setEnabled(true, AssertionKind::systemSleep)));
        QVERIFY(first->isEnabled(AssertionKind::systemSleep));
        QVERIFY(first->activeSince());
        const auto held = harness->inhibitors();
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().what, QStringLiteral("sleep"));
        QCOMPARE(held.first().who, QStringLiteral("Wakora"));
        QCOMPARE(held.first().why, QStringLiteral("Wakora: prevent system sleep"));
        QTRY_VERIFY(second->isEnabled(AssertionKind::systemSleep));

        QVERIFY(QCoro::waitFor(second->setEnabled(false, AssertionKind::systemSleep)));
        QTRY_VERIFY(harness->inhibitors().isEmpty());
        QTRY_VERIFY(!first->isEnabled(AssertionKind::systemSleep));
        QVERIFY(!first->activeSince());
    }

    void everyClientHearsOfAChangeBeforeTheReply()
    {
        QDBusConnection requester = newConnection();
        QDBusConnection watcher = newConnection();
        NoticeRecorder requesterNotices(requester);
        NoticeRecorder watcherNotices(watcher);
        // A first request makes each of them a client.
        QCOMPARE(request(requester, QStringLiteral("State"), {}).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(request(watcher, QStringLiteral("State"), {}).type(), QDBusMessage::ReplyMessage);

        QDBusMessage call = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
            MenuBarService::objectPath(), MenuBarService::interfaceName(), QStringLiteral("SetAssertion"));
        call.setArguments({ QVariant::fromValue(qlonglong(1)), true });
        QDBusPendingCallWatcher pending(requester.asyncCall(call));
        int noticesAtReply = -1;
        connect(&pending, &QDBusPendingCallWatcher::finished, this,
            [&] { noticesAtReply = requesterNotices.count.load(); });
        QTRY_VERIFY(noticesAtReply >= 0);
        QVERIFY(!pending.isError());
        QCOMPARE(noticesAtReply, 1);
        QTRY_COMPARE(watcherNotices.count.load(), 1);
    }

    void invalidKindsAndUnchangedStatesSendNothing()
    {
        QDBusConnection bus = newConnection();
        NoticeRecorder notices(bus);
        for (const qlonglong kind : { qlonglong(2), qlonglong(-1) }) {
            const QDBusMessage reply
                = request(bus, QStringLiteral("SetAssertion"), { QVariant::fromValue(kind), true });
            QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
            QCOMPARE(failureOf(reply), QStringList{ QStringLiteral("Invalid kind") });
        }
        const QDBusMessage unchanged
            = request(bus, QStringLiteral("SetAssertion"), { QVariant::fromValue(qlonglong(0)), false });
        QCOMPARE(failureOf(unchanged), QStringList());
        QTest::qWait(200);
        QCOMPARE(notices.count.load(), 0);
        QVERIFY(harness->inhibitors().isEmpty());

        const QDBusMessage wrongTypes = request(bus, QStringLiteral("SetAssertion"), { QStringLiteral("0"), true });
        QCOMPARE(wrongTypes.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    }

    void aForeignCallerIsRefused()
    {
        QProcess gdbus;
        gdbus.setProcessEnvironment(harness->environment());
        gdbus.start(QStringLiteral("gdbus"),
            { QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                MenuBarService::machServiceName(), QStringLiteral("--object-path"), MenuBarService::objectPath(),
                QStringLiteral("--method"), MenuBarService::interfaceName() + QStringLiteral(".SetAssertion"),
                QStringLiteral("0"), QStringLiteral("true") });
        if (!gdbus.waitForStarted())
            QSKIP("gdbus is not installed (Debian: libglib2.0-bin)");
        QVERIFY(gdbus.waitForFinished(15000));
        QVERIFY(gdbus.exitCode() != 0);
        QVERIFY2(gdbus.readAllStandardError().contains("org.freedesktop.DBus.Error.AccessDenied"),
            "the refusal is AccessDenied");
        QVERIFY(harness->inhibitors().isEmpty());
        // The refused caller did not become a client, and the agent serves on.
        QCOMPARE(harness->wakora({ QStringLiteral("status") }), 0);
    }

    void aKilledAgentGivesEverythingBackAndIsPickedUpAgain()
    {
        const auto retry = std::chrono::milliseconds(500);
        auto remote = client(newConnection(), retry);
        QVERIFY(QCoro::waitFor(remote->setEnabled(true, AssertionKind::displaySleep)));
        QCOMPARE(harness->inhibitors().size(), 1);

        QSignalSpy changes(remote.get(), &PowerToggling::didChange);
        harness->signalAgent(SIGKILL);
        QVERIFY(harness->agent->waitForFinished(5000));
        QTRY_VERIFY(harness->inhibitors().isEmpty());
        QTRY_VERIFY(!remote->isAvailable());
        QVERIFY(!remote->isEnabled(AssertionKind::displaySleep));
        QVERIFY(remote->isRetryPending());

        // While nobody answers, one attempt per interval and never two pending.
        changes.clear();
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < 2000) {
            QVERIFY(remote->isRetryPending() || changes.count() > 0);
            QTest::qWait(50);
        }
        QVERIFY2(changes.count() >= 2 && changes.count() <= 5, qPrintable(QString::number(changes.count())));

        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(remote->isAvailable(), int(retry.count()) + 1500);
        QVERIFY(!remote->isEnabled(AssertionKind::displaySleep)); // a new agent holds nothing
        QCOMPARE(remote->ownerPID(), qint32(harness->agent->processId()));
    }

    void terminationReleasesBothKinds()
    {
        auto remote = client(newConnection());
        QVERIFY(QCoro::waitFor(remote->setEnabled(true, AssertionKind::systemSleep)));
        QVERIFY(QCoro::waitFor(remote->setEnabled(true, AssertionKind::displaySleep)));
        QCOMPARE(harness->inhibitors().size(), 2);
        harness->signalAgent(SIGTERM);
        QVERIFY(harness->agent->waitForFinished(5000));
        QCOMPARE(harness->agent->exitStatus(), QProcess::NormalExit);
        QCOMPARE(harness->agent->exitCode(), 0);
        QTRY_VERIFY(harness->inhibitors().isEmpty());

        // The keep-awake session was closed on the way out, not left for the
        // next start to repair.
        QFile history(harness->home.filePath(QStringLiteral("data/Wakora/usage.json")));
        QVERIFY(history.open(QIODevice::ReadOnly));
        const QJsonArray sessions = QJsonDocument::fromJson(history.readAll()).object().value(u"sessions").toArray();
        QCOMPARE(sessions.size(), 1);
        QVERIFY(sessions.first().toObject().contains(u"end"));
    }

    // The session's bus ends (a logout without a session manager to signal
    // us): nobody could ever switch the agent off again, so it ends too and
    // gives back what it holds.
    void theEndOfTheSessionBusEndsTheAgent()
    {
        auto remote = client(newConnection());
        QVERIFY(QCoro::waitFor(remote->setEnabled(true, AssertionKind::systemSleep)));
        QCOMPARE(harness->inhibitors().size(), 1);
        harness->buses.bus(MockBuses::session).stop();
        QVERIFY(harness->agent->waitForFinished(10000));
        QCOMPARE(harness->agent->exitStatus(), QProcess::NormalExit);
        QCOMPARE(harness->agent->exitCode(), 0);
        QTRY_VERIFY(harness->inhibitors().isEmpty());
    }

    void holdGivesBackOnlyWhatItTook()
    {
        auto remote = client(newConnection());
        QVERIFY(QCoro::waitFor(remote->setEnabled(true, AssertionKind::displaySleep)));

        QCOMPARE(harness->wakora({ QStringLiteral("hold"), QStringLiteral("--"), QStringLiteral("false") }), 1);
        QByteArray during;
        QCOMPARE(harness->wakora({ QStringLiteral("hold"), QStringLiteral("--display"), QStringLiteral("--"),
                                     AgentHarness::locations().commandLine(), QStringLiteral("status") },
                     &during),
            0);
        QVERIFY2(during.contains("잠자기 방지: 켜짐"), during.constData());
        QCOMPARE(harness->wakora({ QStringLiteral("hold"), QStringLiteral("--"), QStringLiteral("sh"),
                     QStringLiteral("-c"), QStringLiteral("exit 7") }),
            7);

        QCoro::waitFor(remote->refresh());
        QVERIFY(remote->isEnabled(AssertionKind::displaySleep));
        QVERIFY(!remote->isEnabled(AssertionKind::systemSleep));
        const auto held = harness->inhibitors();
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().what, QStringLiteral("idle"));

        QByteArray missing;
        QCOMPARE(
            harness->wakora(
                { QStringLiteral("hold"), QStringLiteral("--"), QStringLiteral("/nonexistent/command") }, &missing),
            127);
        QCOMPARE(harness->inhibitors().size(), 1);
    }

    // A hold is a claim of the command's own, listed by its name, and tied
    // to the wakora process's bus connection: killed outright, it gives its
    // kind back; a kind another claim keeps on stays on.
    void aKilledHoldGivesBackItsClaim()
    {
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--display") }), 0);
        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        QCOMPARE(harness->inhibitors().size(), 1);

        QProcess hold;
        hold.setProcessEnvironment(harness->environment());
        hold.start(AgentHarness::locations().commandLine(),
            { QStringLiteral("hold"), QStringLiteral("--display"), QStringLiteral("--"), QStringLiteral("sleep"),
                QStringLiteral("30") });
        QTRY_COMPARE_WITH_TIMEOUT(harness->inhibitors().size(), 2, 10000);
        QByteArray status;
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &status), 0);
        QVERIFY2(
            status.contains("켜 둔 이유: 직접 켬 (디스플레이), sleep 실행 중 (디스플레이 포함)"), status.constData());

        hold.kill(); // no chance to say Release
        QVERIFY(hold.waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(harness->inhibitors().size(), 1, 10000);
        QCOMPARE(harness->inhibitors().first().what, QStringLiteral("idle"));
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &status), 0);
        QVERIFY2(status.contains("켜 둔 이유: 직접 켬 (디스플레이)\n"), status.constData());
    }

    void commandLine()
    {
        QByteArray output;
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--display") }), 0);
        QCOMPARE(harness->inhibitors().size(), 2);
        // Real logind lists the holder's pid; the mock lists a fixed one, so
        // it is taught to name the agent for Wakora's locks as logind would.
        QVERIFY(harness->logind->addMethod(QStringLiteral("org.freedesktop.login1.Manager"),
            QStringLiteral("ListInhibitors"), QString(), QStringLiteral("a(ssssuu)"),
            QStringLiteral("ret = dbus.Array([(w, o, y, m, dbus.UInt32(u), dbus.UInt32(%1 if o == 'Wakora' else p)) "
                           "for (w, o, y, m, u, p) in globals().get('inhibitors', [])], signature='(ssssuu)')")
                .arg(harness->agent->processId())));
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("디스플레이 켜 두기: 켜짐"), output.constData());
        QVERIFY(output.contains(QByteArray::number(harness->agent->processId())));
        // Who keeps the machine awake: our own locks, once, as this app.
        const QByteArray ours
            = QStringLiteral("  이 앱 — 화면을 켜 두는 중 (pid %1)").arg(harness->agent->processId()).toUtf8();
        QVERIFY2(output.contains("지금 잠자기를 막는 앱:\n" + ours + "\n"), output.constData());
        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        QCOMPARE(harness->inhibitors().size(), 1);
        QCOMPARE(harness->wakora({ QStringLiteral("frobnicate") }), 2);
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--json") }), 2);
        QCOMPARE(harness->wakora({ QStringLiteral("hold") }), 2);

        harness->stopAgent();
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 3);
        QVERIFY2(output.contains("실행 중이 아닙니다"), output.constData());
    }

    void onStartsAnAgentWhenNoneRuns()
    {
        harness->stopAgent();
        QTRY_VERIFY(!harness->agentOwnsName());
        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        QTRY_COMPARE(harness->inhibitors().size(), 1);
        // Started detached, so end it through the bus.
        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        const auto pid = harness->session().interface()->servicePid(MenuBarService::machServiceName()).value();
        QVERIFY(pid > 0);
        ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY(!harness->agentOwnsName());
    }

    void aSecondAgentStepsAside()
    {
        QProcess second;
        second.setProcessEnvironment(harness->environment());
        second.start(AgentHarness::locations().agent(), {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardOutput().contains("already running"));
        QCOMPARE(harness->agent->state(), QProcess::Running);
    }

    void usageHistoryEndToEnd()
    {
        auto remote = client(newConnection());
        QVERIFY(QCoro::waitFor(remote->setEnabled(true, AssertionKind::systemSleep)));
        QTest::qWait(50);
        QVERIFY(QCoro::waitFor(remote->setEnabled(false, AssertionKind::systemSleep)));

        const auto summary = QCoro::waitFor(remote->summary());
        QVERIFY2(summary, qPrintable(summary ? QString() : summary.error()));
        QCOMPARE(summary.value().days.size(), 7);
        QVERIFY(summary.value().days.last().seconds > 0);
        // The history reaches the disk from the writer's thread within a second.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(harness->home.filePath(QStringLiteral("data/Wakora/usage.json"))), 1500);

        QVERIFY(QCoro::waitFor(remote->clear()));
        const auto cleared = QCoro::waitFor(remote->summary());
        QVERIFY(cleared);
        QVERIFY(cleared.value().isEmpty());

        QByteArray json;
        QCOMPARE(harness->wakora({ QStringLiteral("usage"), QStringLiteral("--json") }, &json), 0);
        QVERIFY2(UsageSummary::fromJson(json.trimmed()), json.constData());
    }

    void opensAtLoginIsStored()
    {
        auto remote = client(newConnection());
        QCOMPARE(QCoro::waitFor(remote->opensAtLogin()).value(), true); // the registered default
        QVERIFY(QCoro::waitFor(remote->setOpensAtLogin(false)));
        QCOMPARE(QCoro::waitFor(remote->opensAtLogin()).value(), false);
        QTest::qWait(100);
        QCOMPARE(harness->agent->state(), QProcess::Running); // no second idle check
    }
};

QTEST_GUILESS_MAIN(TestAgent)
#include "tst_agent.moc"
