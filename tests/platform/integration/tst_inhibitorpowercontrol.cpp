#include "FakePowerControl.h"
#include "InhibitMocks.h"
#include "InhibitorPowerControl.h"
#include "PowerController.h"

#include <QCoreApplication>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdio>

using namespace InhibitMocks;
using Backend = InhibitorPowerControl::Backend;

// The production control on private buses: which service each kind goes
// to, what that service then holds, and what happens when things go wrong.
class TestInhibitorPowerControl : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    QString error;

    std::unique_ptr<InhibitorPowerControl> newControl()
    {
        return std::make_unique<InhibitorPowerControl>(
            buses->bus(MockBuses::system).newConnection(), buses->bus(MockBuses::session).newConnection());
    }

    static QString why(AssertionKind kind) { return assertionName(kind); }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString reason = MockBuses::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
    }

    void init()
    {
        buses = std::make_unique<MockBuses>();
        QVERIFY2(buses->start(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            buses->printLogs();
        buses.reset();
    }

    void logindHoldsOneLockPerKind_data()
    {
        QTest::addColumn<AssertionKind>("kind");
        QTest::addColumn<QString>("what");
        QTest::newRow("system sleep") << AssertionKind::systemSleep << QStringLiteral("sleep");
        QTest::newRow("display sleep") << AssertionKind::displaySleep << QStringLiteral("idle");
    }

    void logindHoldsOneLockPerKind()
    {
        QFETCH(AssertionKind, kind);
        QFETCH(QString, what);
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));

        auto control = newControl();
        QCOMPARE(control->backend(kind), Backend::logind);
        const auto id = control->createAssertion(kind);
        QVERIFY(id);
        const auto held = logindInhibitors(logind);
        QVERIFY(held);
        QCOMPARE(held->size(), 1);
        QCOMPARE(held->first().what, what);
        QCOMPARE(held->first().who, QStringLiteral("Wakora"));
        QCOMPARE(held->first().why, why(kind));
        QCOMPARE(held->first().mode, QStringLiteral("block"));

        QVERIFY(control->releaseAssertion(id.value()));
        // logind notices the closed descriptor on its own time.
        QTRY_VERIFY(logindInhibitors(logind).value_or(QList<LogindInhibitor>{ {} }).isEmpty());
    }

    void sessionServicesHoldACookie_data()
    {
        QTest::addColumn<AssertionKind>("kind");
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("interface");
        QTest::newRow("system sleep: PowerManagement")
            << AssertionKind::systemSleep << powerService << powerPath << powerInterface;
        QTest::newRow("display sleep: ScreenSaver")
            << AssertionKind::displaySleep << screenSaverService << screenSaverPath << screenSaverInterface;
    }

    void sessionServicesHoldACookie()
    {
        QFETCH(AssertionKind, kind);
        QFETCH(QString, service);
        QFETCH(QString, path);
        QFETCH(QString, interface);
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *desktop = startCookieService(*buses, service, path, interface, &error);
        QVERIFY2(desktop, qPrintable(error));

        auto control = newControl();
        const auto id = control->createAssertion(kind);
        QVERIFY(id);
        const auto held = heldBy(desktop, interface);
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().who, QStringLiteral("Wakora"));
        QCOMPARE(held.first().why, why(kind));
        // Our identifier is our own, not the service's cookie.
        QCOMPARE(id.value(), 1u);
        QVERIFY(held.first().handle != QString::number(id.value()));
        QVERIFY(logindInhibitors(logind)->isEmpty());

        QVERIFY(control->releaseAssertion(id.value()));
        QVERIFY(heldBy(desktop, interface).isEmpty());
        // Releasing again, or something never handed out, changes nothing and succeeds.
        QVERIFY(control->releaseAssertion(id.value()));
        QVERIFY(control->releaseAssertion(77));
    }

    void thePortalComesFirst()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *screenSaver
            = startCookieService(*buses, screenSaverService, screenSaverPath, screenSaverInterface, &error);
        QVERIFY2(screenSaver, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));

        auto control = newControl();
        const auto system = control->createAssertion(AssertionKind::systemSleep);
        const auto display = control->createAssertion(AssertionKind::displaySleep);
        QVERIFY(system && display);
        QCOMPARE(control->backend(AssertionKind::systemSleep), Backend::portal);
        QCOMPARE(control->backend(AssertionKind::displaySleep), Backend::portal);
        QVERIFY(system.value() != display.value());

        auto held = heldBy(portal, portalInterface);
        std::sort(held.begin(), held.end(), [](const auto &a, const auto &b) { return a.flags < b.flags; });
        QCOMPARE(held.size(), 2);
        QCOMPARE(held[0].flags, 4u); // suspend
        QCOMPARE(held[0].why, why(AssertionKind::systemSleep));
        QCOMPARE(held[1].flags, 8u); // idle
        QCOMPARE(held[1].why, why(AssertionKind::displaySleep));
        QVERIFY(heldBy(screenSaver, screenSaverInterface).isEmpty());
        QVERIFY(logindInhibitors(logind)->isEmpty());

        // Closing one request leaves the other one held.
        QVERIFY(control->releaseAssertion(system.value()));
        held = heldBy(portal, portalInterface);
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().flags, 8u);
        QVERIFY(control->releaseAssertion(display.value()));
        QVERIFY(heldBy(portal, portalInterface).isEmpty());
    }

    void aPortalWithoutInhibitIsPassedOver()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY2(startPortal(*buses, &error, false), qPrintable(error));

        auto control = newControl();
        QVERIFY(control->createAssertion(AssertionKind::systemSleep));
        QCOMPARE(control->backend(AssertionKind::systemSleep), Backend::logind);
        QCOMPARE(logindInhibitors(logind)->size(), 1);
    }

    void nothingReachableLeavesTheControllerOff()
    {
        auto control = std::shared_ptr<InhibitorPowerControl>(newControl());
        PowerController controller(control);
        const auto result = controller.setEnabledNow(true, AssertionKind::systemSleep);
        QVERIFY(!result);
        QCOMPARE(result.error(), PowerError::assertionCreateFailed(-ENOENT));
        QVERIFY(!controller.isEnabled(AssertionKind::systemSleep));
        QVERIFY(!controller.activeSince());
        QVERIFY(!control->backend(AssertionKind::displaySleep));

        // A service that comes up later is found on the next attempt.
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(controller.setEnabledNow(true, AssertionKind::systemSleep));
        QCOMPARE(logindInhibitors(logind)->size(), 1);
        controller.releaseAll();
    }

    void aRefusedCreationCarriesTheStatus_data()
    {
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<int>("code");
        QTest::newRow("access denied") << QStringLiteral("org.freedesktop.DBus.Error.AccessDenied") << -EACCES;
        QTest::newRow("anything else") << QStringLiteral("org.freedesktop.login1.OperationInProgress") << -EIO;
    }

    void aRefusedCreationCarriesTheStatus()
    {
        QFETCH(QString, errorName);
        QFETCH(int, code);
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(
            logind->addMethod(logindInterface, QStringLiteral("Inhibit"), QStringLiteral("ssss"), QStringLiteral("h"),
                QStringLiteral("raise dbus.exceptions.DBusException('refused', name='%1')").arg(errorName)));

        auto control = newControl();
        const auto id = control->createAssertion(AssertionKind::displaySleep);
        QVERIFY(!id);
        QCOMPARE(id.error(), PowerError::assertionCreateFailed(code));
    }

    void aRefusedReleaseKeepsTheKindHeld()
    {
        DBusMock *saver = startCookieService(*buses, screenSaverService, screenSaverPath, screenSaverInterface, &error);
        QVERIFY2(saver, qPrintable(error));
        auto control = std::shared_ptr<InhibitorPowerControl>(newControl());
        PowerController controller(control);
        QVERIFY(controller.setEnabledNow(true, AssertionKind::displaySleep));
        const QString cookie = heldBy(saver, screenSaverInterface).value(0).handle;

        QVERIFY(saver->addMethod(screenSaverInterface, QStringLiteral("UnInhibit"), QStringLiteral("u"), QString(),
            QStringLiteral(
                "raise dbus.exceptions.DBusException('busy', name='org.freedesktop.DBus.Error.AccessDenied')")));
        const auto refused = controller.setEnabledNow(false, AssertionKind::displaySleep);
        QVERIFY(!refused);
        QCOMPARE(refused.error(), PowerError::assertionReleaseFailed(-EACCES));
        QVERIFY(controller.isEnabled(AssertionKind::displaySleep));

        // Once the service relents, the same cookie is given back.
        QVERIFY(saver->addMethod(screenSaverInterface, QStringLiteral("UnInhibit"), QStringLiteral("u"), QString(),
            QStringLiteral("del self.held[int(args[0])]")));
        QVERIFY(controller.setEnabledNow(false, AssertionKind::displaySleep));
        QVERIFY(!controller.isEnabled(AssertionKind::displaySleep));
        QVERIFY(heldBy(saver, screenSaverInterface).isEmpty());
        const auto calls = saver->callsOf(QStringLiteral("UnInhibit"));
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[0].value(0).toString(), cookie);
        QCOMPARE(calls[1].value(0).toString(), cookie);
    }

    void aServiceThatLeftTookItsInhibitWithIt()
    {
        DBusMock *power = startCookieService(*buses, powerService, powerPath, powerInterface, &error);
        QVERIFY2(power, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        auto control = newControl();
        const auto viaPortal = control->createAssertion(AssertionKind::displaySleep);
        QVERIFY(viaPortal);
        buses->removeMock(portal);
        // Only now does system sleep look past the portal, to the power manager.
        const auto viaCookie = control->createAssertion(AssertionKind::systemSleep);
        QVERIFY(viaCookie);
        QCOMPARE(control->backend(AssertionKind::systemSleep), Backend::powerManagement);

        buses->removeMock(power);
        QVERIFY(control->releaseAssertion(viaCookie.value()));
        // A portal that came back knows nothing of the old request: that inhibit is gone too.
        QVERIFY2(startPortal(*buses, &error), qPrintable(error));
        QVERIFY(control->releaseAssertion(viaPortal.value()));
    }

    void aRefusedPortalCloseKeepsTheRequest()
    {
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        auto control = newControl();
        const auto id = control->createAssertion(AssertionKind::systemSleep);
        QVERIFY(id);
        const QString request = heldBy(portal, portalInterface).value(0).handle;
        QVERIFY(portal->addMethod(QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"), QString(),
            QString(),
            QStringLiteral("raise dbus.exceptions.DBusException('no', name='org.freedesktop.DBus.Error.NoReply')"),
            request));
        const auto refused = control->releaseAssertion(id.value());
        QVERIFY(!refused);
        QCOMPARE(refused.error(), PowerError::assertionReleaseFailed(-ETIMEDOUT));
        QCOMPARE(heldBy(portal, portalInterface).size(), 1);
    }

    void destroyingTheControlGivesBackWhatItHolds()
    {
        DBusMock *saver = startCookieService(*buses, screenSaverService, screenSaverPath, screenSaverInterface, &error);
        QVERIFY2(saver, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        {
            // The portal for both kinds, then a control that only sees the screen saver.
            auto control = newControl();
            QVERIFY(control->createAssertion(AssertionKind::systemSleep));
        }
        QTRY_VERIFY(heldBy(portal, portalInterface).isEmpty());
        buses->removeMock(portal);
        {
            auto control = newControl();
            QVERIFY(control->createAssertion(AssertionKind::displaySleep));
            QCOMPARE(heldBy(saver, screenSaverInterface).size(), 1);
        }
        QTRY_VERIFY(heldBy(saver, screenSaverInterface).isEmpty());
    }

    void aHolderThatDiesReleasesItsLock()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));

        QProcess holder;
        holder.setProcessEnvironment(buses->environment());
        holder.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--hold-system-sleep") });
        QVERIFY(holder.waitForStarted());
        QVERIFY2(holder.waitForReadyRead(10000), holder.readAllStandardError().constData());
        QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("held"));
        QCOMPARE(logindInhibitors(logind)->size(), 1);
        QCOMPARE(logindInhibitors(logind)->first().why, why(AssertionKind::systemSleep));

        // Killed, so nothing is released on purpose: the closed descriptor is the release.
        ::kill(pid_t(holder.processId()), SIGKILL);
        QVERIFY(holder.waitForFinished());
        QTRY_VERIFY(logindInhibitors(logind).value_or(QList<LogindInhibitor>{ {} }).isEmpty());
    }
};

// Run with --hold-system-sleep, the program takes a system-sleep assertion on
// the buses its environment names, says "held" and waits to be killed.
static int holdSystemSleep(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    InhibitorPowerControl control(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
    const auto id = control.createAssertion(AssertionKind::systemSleep);
    if (!id) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(id.error().errorDescription()));
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    return app.exec();
}

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--hold-system-sleep") == 0)
        return holdSystemSleep(argc, argv);
    QCoreApplication app(argc, argv);
    TestInhibitorPowerControl test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_inhibitorpowercontrol.moc"
