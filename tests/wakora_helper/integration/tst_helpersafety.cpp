#include "ClamshellClient.h"
#include "HelperHarness.h"
#include "StartOrSkip.h"

#include <QCoroTask>
#include <QDBusPendingCall>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

// What keeps logind's lid setting from being left ignored with nobody
// owning it: restores that are tried again, the command that dies with its
// helper, the mode that belongs to the user who turned it on, and the
// hand-over to the next helper. The real helper and wakora-pmset against
// mocked polkit, logind and systemd on private buses.
class TestHelperSafety : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    std::unique_ptr<HelperHarness> harness;
    QString error;

    QDBusConnection newConnection() { return buses->bus(MockBuses::system).newConnection(); }

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

    void expectMode(const HelperHarness::Reply &reply, qint64 mode)
    {
        QVERIFY2(reply.ok, qPrintable(reply.errorName + u' ' + reply.errorMessage));
        QCOMPARE(reply.failure, QStringList{});
        QCOMPARE(reply.mode, mode);
    }

    // systemd's KillUnit failing (logind cannot be made to reload), or
    // making the logind mock reread the drop-in folder again.
    bool reloadsFail(bool fail)
    {
        const QString code = fail
            ? QStringLiteral("raise dbus.exceptions.DBusException('busy', name='org.freedesktop.DBus.Error.Failed')")
            : InhibitMocks::logindReload(harness->dropInPath(), QStringLiteral("suspend"));
        return harness->systemd->addMethod(QStringLiteral("org.freedesktop.systemd1.Manager"),
            QStringLiteral("KillUnit"), QStringLiteral("ssi"), QString(), code);
    }

    // A caller of another user: gdbus run as nobody, which the helper admits
    // besides this test. Answers what gdbus printed, or its error.
    QString callAsNobody(const QString &method)
    {
        QProcess gdbus;
        gdbus.setProcessChannelMode(QProcess::MergedChannels);
        gdbus.start(QStringLiteral("setpriv"),
            { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                QStringLiteral("/usr/bin/gdbus"), QStringLiteral("call"), QStringLiteral("--address"),
                buses->bus(MockBuses::system).address(), QStringLiteral("--dest"), ClamshellService::machServiceName(),
                QStringLiteral("--object-path"), ClamshellService::objectPath(), QStringLiteral("--method"),
                ClamshellService::interfaceName() + u'.' + method });
        if (!gdbus.waitForFinished(30000))
            return QStringLiteral("gdbus did not finish");
        return QString::fromUtf8(gdbus.readAll()).trimmed();
    }

    bool startHelperAdmittingNobody()
    {
        harness->helper = std::make_unique<QProcess>();
        harness->helper->setProcessEnvironment(buses->environment());
        harness->helper->setProcessChannelMode(QProcess::MergedChannels);
        harness->helper->start(HelperHarness::locations().helper(),
            harness->testOptions() + QStringList{ QStringLiteral("--admit"), QStringLiteral("/usr/bin/gdbus") });
        const QDeadlineTimer deadline(15000);
        while (!harness->helperOwnsName() && !deadline.hasExpired())
            QTest::qWait(10);
        return harness->helperOwnsName();
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

    void anUnconfirmedRestoreIsTriedAgainWithoutTheDropIn()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        std::optional<QDBusConnection> owner = newConnection();
        expectMode(HelperHarness::request(*owner, QStringLiteral("Enable")), 1);
        QVERIFY(reloadsFail(true));

        leave(owner);
        // The drop-in goes at once and never comes back; the marker stays
        // while logind has not reread its folder.
        QTRY_VERIFY_WITH_TIMEOUT(!harness->dropInExists(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(harness->helperLog().contains(QStringLiteral("trying again")), 10000);
        for (int i = 0; i < 20; ++i) {
            QVERIFY(!harness->dropInExists());
            QVERIFY(harness->markerExists());
            QTest::qWait(100);
        }
        // Enabling meanwhile first finishes the restore, which still fails.
        std::optional<QDBusConnection> other = newConnection();
        const auto refused = HelperHarness::request(*other, QStringLiteral("Enable"));
        QVERIFY(refused.ok);
        QCOMPARE(refused.mode, 0);
        QVERIFY2(refused.failure.value(0).startsWith(QStringLiteral("The lid setting is still being given back")),
            qPrintable(refused.failure.value(0)));
        QVERIFY(!harness->dropInExists());
        leave(other);

        // logind answers again: a later attempt confirms, and the marker goes.
        QVERIFY(reloadsFail(false));
        QTRY_VERIFY_WITH_TIMEOUT(!harness->markerExists(), 10000);
        QVERIFY(!harness->dropInExists());
        QVERIFY(!lidIgnored());
    }

    void theCommandDiesWithItsHelper()
    {
        // A stand-in command that notes its pid and takes its time.
        const QString pidFile = harness->directory.filePath(QStringLiteral("pmset.pid"));
        const QString pmset = harness->directory.filePath(QStringLiteral("pmset"));
        QFile script(pmset);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho $$ > '%1'\nexec sleep 30\n").arg(pidFile).toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        harness->helper = std::make_unique<QProcess>();
        harness->helper->setProcessEnvironment(buses->environment());
        harness->helper->setProcessChannelMode(QProcess::MergedChannels);
        harness->helper->start(HelperHarness::locations().helper(),
            harness->testOptions() + QStringList{ QStringLiteral("--pmset"), pmset });
        QTRY_VERIFY_WITH_TIMEOUT(harness->helperOwnsName(), 15000);

        QDBusConnection bus = newConnection();
        QDBusPendingCall enabling = bus.asyncCall(QDBusMessage::createMethodCall(ClamshellService::machServiceName(),
            ClamshellService::objectPath(), ClamshellService::interfaceName(), QStringLiteral("Enable")));
        QTRY_VERIFY_WITH_TIMEOUT(QFile(pidFile).size() > 0, 10000);
        QFile pidText(pidFile);
        QVERIFY(pidText.open(QIODevice::ReadOnly));
        const pid_t command = pid_t(pidText.readAll().trimmed().toInt());
        QVERIFY(command > 0);
        QCOMPARE(::kill(command, 0), 0);

        harness->signalHelper(SIGKILL);
        QVERIFY(harness->helper->waitForFinished(5000));
        // Gone with it (a zombie until init reaps it counts as gone too).
        const auto gone = [command] {
            QFile status(QStringLiteral("/proc/%1/stat").arg(command));
            return !status.open(QIODevice::ReadOnly) || status.readAll().contains(") Z ");
        };
        QTRY_VERIFY_WITH_TIMEOUT(gone(), 3000);
    }

    void anotherUsersAgentSeesTheModeAsTheSystemsAndCannotChangeIt()
    {
        // nobody must reach the private bus's socket.
        QCOMPARE(::chmod(QFile::encodeName(buses->directory()).constData(), 0711), 0);
        QVERIFY(startHelperAdmittingNobody());
        std::optional<QDBusConnection> owner = newConnection();
        expectMode(HelperHarness::request(*owner, QStringLiteral("Enable")), 1);

        const QString status = callAsNobody(QStringLiteral("Status"));
        QVERIFY2(status.startsWith(QStringLiteral("(int64 2,")), qPrintable(status));
        for (const QString &method : { QStringLiteral("Disable"), QStringLiteral("Enable") }) {
            const QString reply = callAsNobody(method);
            QVERIFY2(reply.startsWith(QStringLiteral("(int64 0, ['The lid-closed mode was turned on by another user")),
                qPrintable(reply));
        }
        // Nothing changed hands: still the owner's, on, and theirs to end.
        QVERIFY(harness->markerExists());
        QVERIFY(lidIgnored());
        expectMode(HelperHarness::request(*owner, QStringLiteral("Status")), 1);
        QTRY_VERIFY(harness->helperLog().contains(QStringLiteral("wakora-helper:")));

        // Once the owner is gone, the mode is nobody's: the other user may turn it on.
        leave(owner);
        QTRY_VERIFY_WITH_TIMEOUT(!harness->markerExists(), 10000);
        const QString enabled = callAsNobody(QStringLiteral("Enable"));
        QVERIFY2(enabled.startsWith(QStringLiteral("(int64 1,")), qPrintable(enabled));
    }

    void anUpgradeHandsTheOwnerOverToTheNextHelper()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        std::optional<QDBusConnection> owner = newConnection();
        expectMode(HelperHarness::request(*owner, QStringLiteral("Enable")), 1);

        harness->signalHelper(SIGUSR1);
        QVERIFY(harness->helper->waitForFinished(10000));
        QCOMPARE(harness->helper->exitCode(), 0);
        // Left with its owner: nothing was given back in between.
        QVERIFY(harness->markerExists());
        QVERIFY(harness->dropInExists());
        QVERIFY(lidIgnored());
        QVERIFY(QFileInfo::exists(harness->handoverPath()));
        QCOMPARE(QFileInfo(harness->handoverPath()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
            QFileDevice::Permissions());

        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        expectMode(HelperHarness::request(*owner, QStringLiteral("Status")), 1);
        QVERIFY(!QFileInfo::exists(harness->handoverPath()));
        QVERIFY(lidIgnored());
        // The new helper hears the owner leave, as the old one would have.
        leave(owner);
        QTRY_VERIFY_WITH_TIMEOUT(!harness->markerExists() && !harness->dropInExists() && !lidIgnored(), 10000);
    }

    void aHandOverToAnOwnerWhoLeftIsGivenBack()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        std::optional<QDBusConnection> owner = newConnection();
        expectMode(HelperHarness::request(*owner, QStringLiteral("Enable")), 1);
        harness->signalHelper(SIGUSR1);
        QVERIFY(harness->helper->waitForFinished(10000));
        leave(owner);
        QTest::qWait(200);

        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        expectMode(HelperHarness::request(newConnection(), QStringLiteral("Status")), 0);
        QVERIFY(!harness->markerExists());
        QVERIFY(!harness->dropInExists());
        QVERIFY(!lidIgnored());
    }

    void aForgedHandOverIsIgnored()
    {
        // A record that is not root's alone: read as nothing, so the
        // left-over setting is given back.
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        std::optional<QDBusConnection> owner = newConnection();
        expectMode(HelperHarness::request(*owner, QStringLiteral("Enable")), 1);
        harness->signalHelper(SIGKILL);
        QVERIFY(harness->helper->waitForFinished(5000));
        QFile forged(harness->handoverPath());
        QVERIFY(forged.open(QIODevice::WriteOnly));
        const QString id = harness->system().interface()->call(QStringLiteral("GetId")).arguments().value(0).toString();
        forged.write(id.toLatin1() + ' ' + owner->baseService().toLatin1() + " 0\n");
        forged.close();
        QVERIFY(forged.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));

        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        expectMode(HelperHarness::request(*owner, QStringLiteral("Status")), 0);
        QVERIFY(!harness->dropInExists());
        QVERIFY(!QFileInfo::exists(harness->handoverPath()));
    }

    // Racing writers: the helper switching on while someone else (the
    // package's clean-up) runs the command to give the setting back.
    // Whatever the order the lock lets them in, a drop-in never outlives its
    // marker, and turning off at the end leaves nothing.
    void aDropInNeverOutlivesItsMarker()
    {
        QVERIFY2(harness->startHelper(&error), qPrintable(error));
        QDBusConnection bus = newConnection();
        for (int round = 0; round < 8; ++round) {
            QDBusPendingCall enabling
                = bus.asyncCall(QDBusMessage::createMethodCall(ClamshellService::machServiceName(),
                    ClamshellService::objectPath(), ClamshellService::interfaceName(), QStringLiteral("Enable")));
            QProcess cleanUp;
            cleanUp.setProcessEnvironment(buses->environment());
            cleanUp.start(HelperHarness::locations().pmset(),
                { QStringLiteral("--lock-file"), harness->lockPath(), QStringLiteral("--config-dir"),
                    harness->configDirectory(), QStringLiteral("-a"), QStringLiteral("disablesleep"),
                    QStringLiteral("0") });
            QVERIFY(cleanUp.waitForFinished(20000));
            QCOMPARE(cleanUp.exitCode(), 0);
            enabling.waitForFinished();
            QVERIFY2(!harness->dropInExists() || harness->markerExists(), qPrintable(QString::number(round)));
            expectMode(HelperHarness::request(bus, QStringLiteral("Disable")), 0);
            QVERIFY(!harness->dropInExists() && !harness->markerExists() && !lidIgnored());
        }
    }

    // The system bus restarts with the mode on: the helper gives the lid
    // back (the drop-in at once, the marker once a logind confirms), and
    // the agent's client connects to the new bus by itself.
    void theSettingComesBackAndTheClientReconnectsWhenTheBusRestarts()
    {
        // The address without the bus's guid, as the system bus's well-known
        // address is: a restarted bus has another guid.
        QString address = buses->bus(MockBuses::system).address();
        address.remove(QRegularExpression(QStringLiteral(",guid=[0-9a-f]+")));
        QProcessEnvironment environment = buses->environment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        harness->helper = std::make_unique<QProcess>();
        harness->helper->setProcessEnvironment(environment);
        harness->helper->setProcessChannelMode(QProcess::MergedChannels);
        harness->helper->start(HelperHarness::locations().helper(), harness->testOptions());
        QTRY_VERIFY_WITH_TIMEOUT(harness->helperOwnsName(), 15000);
        ClamshellClient::Options options;
        options.reconnect = [address, attempt = 0]() mutable {
            return QDBusConnection::connectToBus(address, QStringLiteral("reconnect-%1").arg(++attempt));
        };
        ClamshellClient client(newConnection(), HelperHarness::locations(), nullptr, options);
        int lost = 0;
        client.onConnectionLost = [&lost] { ++lost; };
        const auto enabled = QCoro::waitFor(client.setEnabled(true));
        QVERIFY2(enabled, qPrintable(enabled ? QString() : enabled.error()));
        QCOMPARE(enabled.value().activation, ClamshellActivation::ownedByApp);
        QVERIFY(harness->dropInExists());

        buses->bus(MockBuses::system).stop();
        QTRY_VERIFY_WITH_TIMEOUT(!client.isConnectedToBus(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!harness->dropInExists(), 10000);
        QVERIFY(harness->markerExists()); // no logind could confirm yet
        QTest::qWait(1500); // the client tries meanwhile, and fails

        QVERIFY2(buses->bus(MockBuses::system).start(buses->directory(), &error), qPrintable(error));
        auto next = std::make_unique<HelperHarness>();
        WAKORA_START_OR_SKIP(next->start(*buses));
        // The old helper's next attempt finds a logind to confirm, and ends.
        QTRY_VERIFY_WITH_TIMEOUT(!harness->markerExists(), 20000);
        // It may have ended (and the event loop seen it) already.
        QTRY_VERIFY_WITH_TIMEOUT(harness->helper->state() == QProcess::NotRunning, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(client.isConnectedToBus(), 20000);
        QVERIFY(lost >= 1);

        QVERIFY2(next->startHelper(&error), qPrintable(error));
        const auto state = QCoro::waitFor(client.currentState());
        QCOMPARE(state, (ClamshellState{ ClamshellApproval::enabled, ClamshellActivation::off }));
    }
};

QTEST_GUILESS_MAIN(TestHelperSafety)
#include "tst_helpersafety.moc"
