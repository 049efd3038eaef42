#include "HelperHarness.h"
#include "StartOrSkip.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// The helper as the agent meets it: the real wakora_helper and wakora-pmset
// against mocked polkit, logind and systemd, callers from this test (which
// the helper admits with --admit) on the private system bus.
class TestHelper : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    std::unique_ptr<HelperHarness> harness;
    QString error;

    QDBusConnection newConnection() { return buses->bus(MockBuses::system).newConnection(); }

    // A connection only closes once nothing refers to it any more.
    static void leave(std::optional<QDBusConnection> &connection)
    {
        const QString name = connection->name();
        connection.reset();
        QDBusConnection::disconnectFromBus(name);
    }

    bool lidIgnored()
    {
        const QDBusMessage reply
            = harness->logind->call(InhibitMocks::logindPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("Get"), { InhibitMocks::logindInterface, QStringLiteral("HandleLidSwitch") });
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString() == u"ignore";
    }

    // Something of ours on the lid setting: the marker, the drop-in, or
    // logind ignoring the lid.
    bool anythingWritten() { return harness->markerExists() || harness->dropInExists() || lidIgnored(); }

    void expectMode(const HelperHarness::Reply &reply, qint64 mode)
    {
        QVERIFY2(reply.ok, qPrintable(reply.errorName + u' ' + reply.errorMessage));
        QCOMPARE(reply.failure, QStringList{});
        QCOMPARE(reply.mode, mode);
    }

    void expectRefused(const HelperHarness::Reply &reply)
    {
        QCOMPARE(reply.errorName, QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
    }

    bool writeMarkerAsLeftOver()
    {
        if (!QDir().mkpath(harness->markerDirectory()))
            return false;
        QFile marker(harness->markerPath());
        return marker.open(QIODevice::WriteOnly);
    }

private Q_SLOTS:
    void init()
    {
        if (const QString why = MockBuses::unavailableReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        buses = std::make_unique<MockBuses>();
        QVERIFY2(buses->start(&error), qPrintable(error));
        harness = std::make_unique<HelperHarness>();
        WAKORA_START_OR_SKIP(harness->start(*buses));
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

    void enableOwnsAndDisableGivesBack()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        QDBusConnection bus = newConnection();
        expectMode(HelperHarness::request(bus, QStringLiteral("Status")), 0);
        expectMode(HelperHarness::request(bus, QStringLiteral("Enable")), 1);
        QVERIFY(harness->markerExists());
        QVERIFY(harness->dropInExists());
        QVERIFY(lidIgnored());
        QFileInfo marker(harness->markerPath());
        QCOMPARE(marker.ownerId(), 0u);
        QCOMPARE(marker.size(), 0);
        // Enabling again keeps it owned; the status says so.
        expectMode(HelperHarness::request(bus, QStringLiteral("Enable")), 1);
        expectMode(HelperHarness::request(bus, QStringLiteral("Status")), 1);

        expectMode(HelperHarness::request(bus, QStringLiteral("Disable")), 0);
        QVERIFY(!anythingWritten());
    }

    void theModesDoNotDependOnTheActivationsUmask_data()
    {
        QTest::addColumn<mode_t>("activationUmask");
        QTest::newRow("0") << mode_t(0);
        QTest::newRow("077") << mode_t(077);
    }

    void theModesDoNotDependOnTheActivationsUmask()
    {
        QFETCH(mode_t, activationUmask);
        // The helper inherits the umask of whoever starts it, here this test.
        const mode_t before = ::umask(activationUmask);
        const bool started = harness->startHelper(&error);
        ::umask(before);
        QVERIFY2(started, qPrintable(error));
        expectMode(HelperHarness::request(newConnection(), QStringLiteral("Enable")), 1);

        const auto modeOf = [](const QString &path) {
            struct stat status = {};
            return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : mode_t(-1);
        };
        QCOMPARE(modeOf(harness->markerPath()), mode_t(0644));
        QCOMPARE(modeOf(harness->markerDirectory()), mode_t(0755));
        QCOMPARE(modeOf(harness->dropInPath()), mode_t(0644));
        QCOMPARE(modeOf(harness->configDirectory()), mode_t(0755));
    }

    void anAdministratorsOwnSettingLetsOursGoBack()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        QDBusConnection bus = newConnection();
        expectMode(HelperHarness::request(bus, QStringLiteral("Enable")), 1);
        // While ours is on, the administrator ignores the lid everywhere too, in a drop-in of their own.
        QFile local(QDir(harness->configDirectory()).filePath(QStringLiteral("50-local.conf")));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("[Login]\nHandleLidSwitch=ignore\nHandleLidSwitchExternalPower=ignore\n"
                    "HandleLidSwitchDocked=ignore\n");
        local.close();

        // Ours goes back; what is left is theirs.
        expectMode(HelperHarness::request(bus, QStringLiteral("Disable")), 2);
        QVERIFY(!harness->markerExists());
        QVERIFY(!harness->dropInExists());
        QVERIFY(local.exists());
        QVERIFY(lidIgnored());
    }

    void startUpRestoresALeftOverMarker()
    {
        // A run that died while owning: marker, drop-in and logind's setting all left behind.
        QVERIFY(writeMarkerAsLeftOver());
        QVERIFY(QDir().mkpath(harness->configDirectory()));
        QFile dropIn(harness->dropInPath());
        QVERIFY(dropIn.open(QIODevice::WriteOnly));
        dropIn.write("[Login]\nHandleLidSwitch=ignore\nHandleLidSwitchExternalPower=ignore\n"
                     "HandleLidSwitchDocked=ignore\n");
        dropIn.close();
        QVERIFY(harness->setLidIgnoredElsewhere());

        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        // Done before the first request is answered: it waits behind the restore.
        expectMode(HelperHarness::request(newConnection(), QStringLiteral("Status")), 0);
        QVERIFY(!anythingWritten());
    }

    void theOwnerLeavingGivesTheSettingBack()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        std::optional<QDBusConnection> owner = newConnection();
        QDBusConnection other = newConnection();
        expectMode(HelperHarness::request(*owner, QStringLiteral("Enable")), 1);
        expectMode(HelperHarness::request(other, QStringLiteral("Status")), 1);

        leave(owner);
        QTRY_VERIFY_WITH_TIMEOUT(!anythingWritten(), 15000);
        expectMode(HelperHarness::request(other, QStringLiteral("Status")), 0);
    }

    void anotherClientLeavingChangesNothing()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        std::optional<QDBusConnection> owner = newConnection();
        std::optional<QDBusConnection> other = newConnection();
        expectMode(HelperHarness::request(*owner, QStringLiteral("Enable")), 1);
        expectMode(HelperHarness::request(*other, QStringLiteral("Status")), 1);

        leave(other);
        QTest::qWait(300); // the helper hears of it meanwhile
        expectMode(HelperHarness::request(*owner, QStringLiteral("Status")), 1);
        QVERIFY(harness->markerExists());
        QVERIFY(harness->dropInExists());

        // The last client leaving gives it back whoever owned it.
        leave(owner);
        QTRY_VERIFY_WITH_TIMEOUT(!anythingWritten(), 15000);
    }

    void aSettingMadeElsewhereIsLeftAlone()
    {
        QVERIFY(harness->setLidIgnoredElsewhere());
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        std::optional<QDBusConnection> bus = newConnection();
        expectMode(HelperHarness::request(*bus, QStringLiteral("Enable")), 2);
        QVERIFY(!harness->markerExists());
        QVERIFY(!harness->dropInExists());
        expectMode(HelperHarness::request(*bus, QStringLiteral("Disable")), 2);
        QVERIFY(!harness->dropInExists());
        QVERIFY(lidIgnored());

        // Every client gone: the restore finds no marker and writes nothing.
        leave(bus);
        QTest::qWait(300);
        expectMode(HelperHarness::request(newConnection(), QStringLiteral("Status")), 2);
        QVERIFY(lidIgnored());
        QVERIFY(!harness->dropInExists());
    }

    void refusedCallersChangeNothing()
    {
        // Not admitted: this test is not the agent of the helper's prefix.
        QVERIFY2(harness->startHelper(&error, false), qPrintable(error));
        QDBusConnection bus = newConnection();
        for (const QString &method : { QStringLiteral("Enable"), QStringLiteral("Status") })
            expectRefused(HelperHarness::request(bus, method));
        QVERIFY(!anythingWritten());
        QVERIFY(!QFileInfo::exists(harness->markerDirectory()));

        // Admitted as a program, but polkit says no.
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        QVERIFY(harness->allow(false));
        expectRefused(HelperHarness::request(bus, QStringLiteral("Enable")));
        QVERIFY(!anythingWritten());
        QVERIFY(!QFileInfo::exists(harness->markerDirectory()));
        QTRY_VERIFY(harness->helperLog().contains(QStringLiteral("wakora-helper: refused Enable")));

        // Arguments are checked before anyone is asked.
        QDBusMessage call = QDBusMessage::createMethodCall(ClamshellService::machServiceName(),
            ClamshellService::objectPath(), ClamshellService::interfaceName(), QStringLiteral("Enable"));
        call << true;
        QCOMPARE(
            bus.call(call, QDBus::Block, 10000).errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    }

    void aFailingCommandTakesTheMarkerBack()
    {
        // systemd that never makes logind reload: wakora-pmset gives up, undoes its drop-in and exits 1.
        harness.reset();
        buses = std::make_unique<MockBuses>();
        QVERIFY2(buses->start(&error), qPrintable(error));
        harness = std::make_unique<HelperHarness>();
        const QString why = harness->start(*buses, nullptr, false);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QVERIFY2(harness->startHelper(&error), qPrintable(error));

        const auto reply = HelperHarness::request(newConnection(), QStringLiteral("Enable"));
        QVERIFY(reply.ok);
        QCOMPARE(reply.mode, 0);
        QCOMPARE(reply.failure, QStringList{ QStringLiteral("pmset exited with 1") });
        QVERIFY(!anythingWritten());
        QTRY_VERIFY(harness->helperLog().contains(QStringLiteral("wakora-helper: enable failed: pmset exited with 1")));
    }

    void anAttackersMarkerIsRefused_data()
    {
        QTest::addColumn<QString>("plant");
        QTest::addColumn<QString>("failure");
        QTest::newRow("symbolic link") << "link"
                                       << "Cannot create marker: File exists";
        QTest::newRow("another owner's file") << "foreign"
                                              << "Cannot create marker: File exists";
        QTest::newRow("group-writable folder") << "group-writable"
                                               << "Unsafe marker directory";
        QTest::newRow("folder of another owner") << "foreign-folder"
                                                 << "Unsafe marker directory";
    }

    void anAttackersMarkerIsRefused()
    {
        QFETCH(QString, plant);
        QFETCH(QString, failure);
        QVERIFY(QDir().mkpath(harness->markerDirectory()));
        const QByteArray marker = QFile::encodeName(harness->markerPath());
        const QByteArray folder = QFile::encodeName(harness->markerDirectory());
        const QString target = harness->directory.filePath(QStringLiteral("target"));
        if (plant == u"link") {
            QVERIFY(QFile::link(target, harness->markerPath()));
        } else if (plant == u"foreign") {
            QFile file(harness->markerPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QCOMPARE(::chown(marker.constData(), 65534, 65534), 0);
        } else if (plant == u"group-writable") {
            QCOMPARE(::chmod(folder.constData(), 0775), 0);
        } else {
            QCOMPARE(::chown(folder.constData(), 65534, 65534), 0);
        }

        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        QDBusConnection bus = newConnection();
        // Not ours, so not owned: the start-up restore left it alone too.
        expectMode(HelperHarness::request(bus, QStringLiteral("Status")), 0);
        const auto reply = HelperHarness::request(bus, QStringLiteral("Enable"));
        QVERIFY(reply.ok);
        QCOMPARE(reply.mode, 0);
        QCOMPARE(reply.failure, QStringList{ failure });
        QVERIFY(!harness->dropInExists());
        QVERIFY(!lidIgnored());
        QVERIFY(!QFileInfo::exists(target));
        if (plant == u"foreign")
            QCOMPARE(QFileInfo(harness->markerPath()).ownerId(), 65534u);
    }

    void aKilledHelperIsUndoneByItsNextStart()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        expectMode(HelperHarness::request(newConnection(), QStringLiteral("Enable")), 1);
        harness->signalHelper(SIGKILL);
        QVERIFY(harness->helper->waitForFinished(5000));
        QVERIFY(harness->markerExists());
        QVERIFY(lidIgnored());

        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        expectMode(HelperHarness::request(newConnection(), QStringLiteral("Status")), 0);
        QVERIFY(!anythingWritten());
    }

    void aSecondHelperLeavesTheRunningOnesSettingAlone()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        expectMode(HelperHarness::request(newConnection(), QStringLiteral("Enable")), 1);
        QVERIFY(harness->markerExists());

        // Started by hand beside it: it finds the name taken and goes.
        QProcess second;
        second.setProcessEnvironment(harness->helper->processEnvironment());
        second.start(harness->helper->program(), harness->helper->arguments());
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(harness->markerExists());
        QVERIFY(lidIgnored());
        expectMode(HelperHarness::request(newConnection(), QStringLiteral("Status")), 1);
    }

    void aFloodFromAForeignCallerDoesNotDelayTheRestore()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        std::optional<QDBusConnection> owner = newConnection();
        expectMode(HelperHarness::request(*owner, QStringLiteral("Enable")), 1);

        // 10,000 requests in a burst from a caller polkit refuses slowly.
        harness->polkit->addMethod(QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
            QStringLiteral("CheckAuthorization"), QStringLiteral("(sa{sv})sa{ss}us"), QStringLiteral("(bba{ss})"),
            QStringLiteral("import time\ntime.sleep(0.5)\nret = (False, False, {})"));
        QDBusConnection foreign = newConnection();
        int refusedAtOnce = 0;
        int denied = 0;
        std::vector<QDBusPendingCall> calls;
        for (int i = 0; i < 10000; ++i) {
            QDBusMessage call = QDBusMessage::createMethodCall(ClamshellService::machServiceName(),
                ClamshellService::objectPath(), ClamshellService::interfaceName(), QStringLiteral("Enable"));
            calls.push_back(foreign.asyncCall(call, 60000));
        }
        for (auto &call : calls) {
            call.waitForFinished();
            if (call.error().name() == u"org.freedesktop.DBus.Error.LimitsExceeded")
                ++refusedAtOnce;
            else if (call.error().name() == u"org.freedesktop.DBus.Error.AccessDenied")
                ++denied;
        }
        // At most 8 of one caller are checked or queued at a time; the rest
        // are refused unchecked, so polkit saw only a handful.
        QCOMPARE(refusedAtOnce + denied, 10000);
        QVERIFY2(denied >= 8 && denied < 100, qPrintable(QString::number(denied)));

        // The owner leaves: the setting comes back at once.
        QElapsedTimer timer;
        timer.start();
        leave(owner);
        QTRY_VERIFY_WITH_TIMEOUT(!anythingWritten(), 5000);
        qInfo("restored %lld ms after the owner left", static_cast<long long>(timer.elapsed()));
    }

    void requestsNeverOverlap()
    {
        // A stand-in command that notes when each run begins and ends, and
        // takes its time, with the setting in a file.
        const QString log = harness->directory.filePath(QStringLiteral("runs"));
        const QString state = harness->directory.filePath(QStringLiteral("state"));
        const QString pmset = harness->directory.filePath(QStringLiteral("pmset"));
        QFile script(pmset);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\n"
                                    "echo begin >> '%1'\n"
                                    "sleep 0.1\n"
                                    "for last; do :; done\n"
                                    // -g as a word of its own: the temporary folder's
                                    // name in --config-dir may hold "-g" too.
                                    "case \" $* \" in\n"
                                    "*' -g '*) printf ' SleepDisabled %s\\n' \"$(cat '%2' 2>/dev/null || echo 0)\" ;;\n"
                                    "*) echo \"$last\" > '%2' ;;\n"
                                    "esac\n"
                                    "echo end >> '%1'\n")
                         .arg(log, state)
                         .toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

        harness->helper = std::make_unique<QProcess>();
        harness->helper->setProcessEnvironment(buses->environment());
        harness->helper->setProcessChannelMode(QProcess::MergedChannels);
        harness->helper->start(HelperHarness::locations().helper(),
            harness->testOptions() + QStringList{ QStringLiteral("--pmset"), pmset });
        QTRY_VERIFY_WITH_TIMEOUT(harness->helperOwnsName(), 15000);

        QList<QDBusConnection> callers{ newConnection(), newConnection(), newConnection() };
        QList<QDBusPendingCall> pending;
        for (int round = 0; round < 3; ++round) {
            for (qsizetype i = 0; i < callers.size(); ++i) {
                const QString method = (round + i) % 2 == 0 ? QStringLiteral("Enable") : QStringLiteral("Disable");
                pending.append(callers[i].asyncCall(QDBusMessage::createMethodCall(ClamshellService::machServiceName(),
                    ClamshellService::objectPath(), ClamshellService::interfaceName(), method)));
            }
        }
        for (QDBusPendingCall &call : pending) {
            call.waitForFinished();
            QVERIFY2(!call.isError(), qPrintable(call.error().message()));
            QVERIFY(QDBusReply<qlonglong>(call.reply()).isValid());
        }

        QFile runs(log);
        QVERIFY(runs.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = runs.readAll().split('\n');
        QVERIFY(lines.size() > 10);
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            QCOMPARE(lines[i], QByteArray(i % 2 == 0 ? "begin" : "end"));
        // The setting and the marker agree at the end.
        QFile setting(state);
        QVERIFY(setting.open(QIODevice::ReadOnly));
        QCOMPARE(setting.readAll().trimmed() == "1", harness->markerExists());
    }

    void endingTheHelperGivesTheSettingBack()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        QDBusConnection bus = newConnection();
        expectMode(HelperHarness::request(bus, QStringLiteral("Enable")), 1);
        harness->helper->terminate();
        QVERIFY(harness->helper->waitForFinished(10000));
        QCOMPARE(harness->helper->exitStatus(), QProcess::NormalExit);
        QVERIFY(!anythingWritten());
    }
};

QTEST_GUILESS_MAIN(TestHelper)
#include "tst_helper.moc"
