#include "AgentHandoverState.h"
#include "AgentHarness.h"
#include "ClaimRecord.h"
#include "HelperHarness.h"
#include "StartOrSkip.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <unistd.h>

// An upgrade replaces the agent's program under a running agent; SIGUSR1
// makes it hand over to an agent started from the new file. The real agent
// runs from a copy of the build's program in a prefix of its own, on
// private buses with logind (and, for the lid-closed mode, polkit and
// systemd) mocked, and the real helper.
class TestAgentUpgrade : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    std::unique_ptr<HelperHarness> helper;
    QTemporaryDir scratch;
    QString error;

    QString prefix() const { return scratch.filePath(QStringLiteral("prefix")); }
    QString runtimeDirectory() const { return scratch.filePath(QStringLiteral("runtime")); }
    QString handoverFile() const { return runtimeDirectory() + QStringLiteral("/wakora-agent-handover.json"); }

    // A fresh copy of the build's file at `target`, renamed into place as a
    // package manager does: a program running from the old file keeps it.
    static bool install(const QString &source, const QString &target)
    {
        const QString fresh = target + QStringLiteral(".dpkg-new");
        QFile::remove(fresh);
        return QDir().mkpath(QFileInfo(target).path()) && QFile::copy(source, fresh)
            && ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(target).constData()) == 0;
    }

    QList<ClaimRecord> claims()
    {
        QDBusMessage call = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
            MenuBarService::objectPath(), MenuBarService::sessionsInterfaceName(), QStringLiteral("Claims"));
        const QDBusMessage reply = harness->session().call(call, QDBus::Block, 15000);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            qWarning("Claims failed: %s", qPrintable(reply.errorMessage()));
            return {};
        }
        return qdbus_cast<QList<ClaimRecord>>(reply.arguments().value(0));
    }

    uint namePid()
    {
        const auto pid = harness->session().interface()->servicePid(MenuBarService::machServiceName());
        return pid.isValid() ? pid.value() : 0;
    }

    static bool holds(const QList<InhibitMocks::LogindInhibitor> &inhibitors, const QString &what)
    {
        return std::any_of(inhibitors.cbegin(), inhibitors.cend(),
            [&](const InhibitMocks::LogindInhibitor &held) { return held.what == what; });
    }

    // Until the name is another process's and the old agent is gone,
    // asking logind all the while: answers the kinds ever found missing,
    // and the most inhibitors seen at once.
    QStringList signalAndWatch(uint oldPid, const QStringList &whats, uint *newPid, qsizetype *most)
    {
        QStringList missing;
        harness->signalAgent(SIGUSR1);
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            const auto inhibitors = harness->inhibitors();
            *most = std::max(*most, inhibitors.size());
            for (const QString &what : whats)
                if (!holds(inhibitors, what) && !missing.contains(what))
                    missing.append(what);
            *newPid = namePid();
            if (*newPid != 0 && *newPid != oldPid && harness->agent->state() == QProcess::NotRunning)
                break;
            QCoreApplication::processEvents();
        }
        return missing;
    }

    // The agent that took over is not the harness's child: ended by its pid.
    void stopNewAgent()
    {
        const uint pid = harness ? namePid() : 0;
        if (pid == 0 || harness->agent->processId() == qint64(pid))
            return;
        ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 10000);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(scratch.isValid());
        QVERIFY(QDir().mkpath(runtimeDirectory()));
        QVERIFY(QFile::setPermissions(runtimeDirectory(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        // The agents' environment is this process's, buses added.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDirectory()));
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        const ProgramLocations build = AgentHarness::locations();
        harness->programs = ProgramLocations(prefix());
        QVERIFY(install(build.agent(), harness->programs.agent()));
        QVERIFY(install(build.commandLine(), harness->programs.commandLine()));
        ClaimRecord::registerType();
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && harness) {
            harness->printLogs();
            if (helper)
                qInfo().noquote() << "---- helper ----\n" << helper->helperLog();
        }
        stopNewAgent();
        if (harness)
            harness->stopAgent();
        helper.reset();
        harness.reset();
        qunsetenv("XDG_RUNTIME_DIR");
    }

    void aReplacedAgentHandsOverWithoutAGap()
    {
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--display") }), 0);
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--display"), QStringLiteral("--for"),
                     QStringLiteral("2h") }),
            0);
        const QList<ClaimRecord> before = claims();
        QCOMPARE(before.size(), 2);
        QStringList whats;
        for (const auto &inhibitor : harness->inhibitors())
            whats.append(inhibitor.what);
        QCOMPARE(whats.size(), 2);
        const uint oldPid = namePid();
        QCOMPARE(qint64(oldPid), harness->agent->processId());

        QVERIFY(install(AgentHarness::locations().agent(), harness->programs.agent()));
        uint newPid = 0;
        qsizetype most = 0;
        const QStringList missing = signalAndWatch(oldPid, whats, &newPid, &most);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u' ')));
        // For a while both agents held every kind: the new one took them before the old one let go.
        QCOMPARE(most, 2 * whats.size());
        QVERIFY2(newPid != 0 && newPid != oldPid, qPrintable(harness->agentLog()));
        QCOMPARE(harness->agent->state(), QProcess::NotRunning);
        QCOMPARE(harness->agent->exitStatus(), QProcess::NormalExit);
        QVERIFY(::kill(pid_t(oldPid), 0) != 0);

        // The same claims, the timer's end to the second; the old agent's inhibitors gone with it.
        const QList<ClaimRecord> after = claims();
        QCOMPARE(after.size(), before.size());
        for (qsizetype i = 0; i < before.size(); ++i) {
            QCOMPARE(after.at(i).owner, before.at(i).owner);
            QCOMPARE(after.at(i).kinds, before.at(i).kinds);
            QVERIFY2(std::abs(after.at(i).endsAt - before.at(i).endsAt) < 1.0, qPrintable(after.at(i).owner));
        }
        const auto inhibitors = harness->inhibitors();
        QCOMPARE(inhibitors.size(), whats.size());
        for (const QString &what : whats)
            QVERIFY(holds(inhibitors, what));
        QVERIFY(!QFileInfo::exists(handoverFile()));

        // The new agent is the one that answers: switched off, nothing is held.
        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        QByteArray output;
        QVERIFY2(
            harness->wakora({ QStringLiteral("off"), QStringLiteral("--display") }, &output) == 0, output.constData());
        QTRY_VERIFY(harness->inhibitors().isEmpty());
    }

    void withTheProgramInPlaceTheSignalChangesNothing()
    {
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        const QList<ClaimRecord> before = claims();
        const uint pid = namePid();
        harness->signalAgent(SIGUSR1);
        QTRY_VERIFY(harness->agentLog().contains(u"has not been replaced"));
        QTest::qWait(300);
        QCOMPARE(harness->agent->state(), QProcess::Running);
        QCOMPARE(namePid(), pid);
        QCOMPARE(claims(), before);
        QCOMPARE(harness->inhibitors().size(), 1);
        QVERIFY(!QFileInfo::exists(handoverFile()));
    }

    // The new program does not come up (here it exits at once): the old
    // agent takes its name back and serves on, holding all it held.
    void aFailedHandOverKeepsTheOldAgent()
    {
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        const QList<ClaimRecord> before = claims();
        const uint pid = namePid();
        QVERIFY(install(QStandardPaths::findExecutable(QStringLiteral("true")), harness->programs.agent()));
        harness->signalAgent(SIGUSR1);
        bool alwaysHeld = true;
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && !harness->agentLog().contains(u"keeps serving")) {
            alwaysHeld = alwaysHeld && holds(harness->inhibitors(), QStringLiteral("sleep"));
            QTest::qWait(10);
        }
        QVERIFY2(alwaysHeld, "the inhibitor lapsed");
        QTRY_COMPARE(namePid(), pid);
        QCOMPARE(harness->agent->state(), QProcess::Running);
        QCOMPARE(claims(), before);
        QVERIFY(!QFileInfo::exists(handoverFile()));
        // And it still answers.
        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        QTRY_VERIFY(harness->inhibitors().isEmpty());
    }

    // A hand-over file left from long ago, or of another user, is not taken.
    void aStaleOrForeignStateIsNotTaken()
    {
        AgentHandoverState state;
        state.switchKinds = 3;
        for (const bool stale : { true, false }) {
            QFile file(handoverFile());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(state.toJson());
            file.close();
            QVERIFY(QFile::setPermissions(handoverFile(), QFile::ReadOwner | QFile::WriteOwner));
            if (stale) {
                const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-600);
                QVERIFY(file.open(QIODevice::ReadWrite));
                QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
                file.close();
            } else {
                QVERIFY(::chown(QFile::encodeName(handoverFile()).constData(), 65534, 65534) == 0);
            }
            QVERIFY2(harness->startAgent(&error), qPrintable(error));
            QVERIFY(claims().isEmpty());
            QVERIFY(harness->inhibitors().isEmpty());
            // Ours and stale: removed; another user's: left alone.
            QCOMPARE(QFileInfo::exists(handoverFile()), !stale);
            harness->stopAgent();
            QFile::remove(handoverFile());
        }
    }

    // With the real helper: the lid-closed mode moves to the new agent,
    // and the old one leaving gives nothing back.
    void theLidClosedModeMovesToTheNewAgent()
    {
        helper = std::make_unique<HelperHarness>();
        WAKORA_START_OR_SKIP(helper->start(harness->buses, harness->logind));
        // Installed as far as the agent looks: the helper's files beside it.
        const QString data = prefix() + QStringLiteral("/share/dbus-1/");
        QVERIFY(QDir().mkpath(data + QStringLiteral("system-services")));
        QVERIFY(QDir().mkpath(data + QStringLiteral("system.d")));
        QFile service(data + QStringLiteral("system-services/com.quorvel.WakoraApp.helper.service"));
        QFile policy(data + QStringLiteral("system.d/com.quorvel.WakoraApp.helper.conf"));
        QVERIFY(service.open(QIODevice::WriteOnly) && policy.open(QIODevice::WriteOnly));
        service.close();
        policy.close();
        QVERIFY(install(HelperHarness::locations().helper(), harness->programs.helper()));
        helper->extraArguments = { QStringLiteral("--admit"), harness->programs.agent() };
        QVERIFY2(helper->startHelper(&error, false), qPrintable(error));

        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QByteArray output;
        QCOMPARE(harness->wakora({ QStringLiteral("lid"), QStringLiteral("on") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 켜짐"), output.constData());
        QVERIFY(helper->dropInExists());

        const uint oldPid = namePid();
        QVERIFY(install(AgentHarness::locations().agent(), harness->programs.agent()));
        uint newPid = 0;
        harness->signalAgent(SIGUSR1);
        const QDeadlineTimer deadline(30000);
        bool alwaysOn = true;
        while (!deadline.hasExpired()) {
            alwaysOn = alwaysOn && helper->dropInExists() && helper->markerExists();
            newPid = namePid();
            if (newPid != 0 && newPid != oldPid && harness->agent->state() == QProcess::NotRunning)
                break;
            QTest::qWait(10);
        }
        QVERIFY2(newPid != 0 && newPid != oldPid, qPrintable(harness->agentLog()));
        // The helper hears the old agent leave; nothing is given back.
        QTest::qWait(500);
        QVERIFY(alwaysOn && helper->dropInExists() && helper->markerExists());
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(output.contains("덮개를 닫아도 유지: 켜짐"), output.constData());

        // It is the new agent's now: its leaving gives the setting back.
        stopNewAgent();
        QTRY_VERIFY_WITH_TIMEOUT(!helper->dropInExists(), 10000);
        QVERIFY(!helper->markerExists());
    }
};

QTEST_GUILESS_MAIN(TestAgentUpgrade)
#include "tst_agentupgrade.moc"
