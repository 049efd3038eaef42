#include "InhibitMocks.h"
#include "InhibitorPowerControl.h"
#include "PowerController.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdio>

using namespace InhibitMocks;

// The production control on private buses: which service each kind goes
// to, what that service then holds, what happens when one refuses or goes
// away, and that nothing is ever left held.
class TestInhibitorPowerControl : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    QString error;

    std::shared_ptr<InhibitorPowerControl> newControl(
        bool sandboxed = false, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
    {
        InhibitorPowerControl::Options options;
        options.sandboxed = sandboxed;
        options.timeout = timeout;
        options.portalResponseTimeout = std::chrono::milliseconds(1500);
        return std::make_shared<InhibitorPowerControl>(
            buses->bus(MockBuses::system).newConnection(), buses->bus(MockBuses::session).newConnection(), options);
    }

    static QString why(AssertionKind kind) { return assertionName(kind); }

    static Expected<quint32, PowerError> create(InhibitorPowerControl &control, AssertionKind kind)
    {
        return QCoro::waitFor(control.createAssertion(kind));
    }

    static Expected<void, PowerError> release(InhibitorPowerControl &control, quint32 id)
    {
        return QCoro::waitFor(control.releaseAssertion(id));
    }

    static bool logindHoldsNothing(DBusMock *logind)
    {
        return logindInhibitors(logind).value_or(QList<LogindInhibitor>{ {} }).isEmpty();
    }

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

    void logindTakesAWeakLockWhereItKnowsOne_data()
    {
        QTest::addColumn<AssertionKind>("kind");
        QTest::addColumn<QString>("what");
        QTest::newRow("system sleep") << AssertionKind::systemSleep << QStringLiteral("sleep");
        QTest::newRow("display sleep") << AssertionKind::displaySleep << QStringLiteral("idle");
    }

    void logindTakesAWeakLockWhereItKnowsOne()
    {
        QFETCH(AssertionKind, kind);
        QFETCH(QString, what);
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));

        auto control = newControl();
        const auto id = create(*control, kind);
        QVERIFY(id);
        QCOMPARE(control->backendOf(id.value()), QStringLiteral("logind"));
        const auto held = logindInhibitors(logind);
        QVERIFY(held);
        QCOMPARE(held->size(), 1);
        QCOMPARE(held->first().what, what);
        QCOMPARE(held->first().who, QStringLiteral("Wakora"));
        QCOMPARE(held->first().why, why(kind));
        QCOMPARE(held->first().mode, QStringLiteral("block-weak"));

        QVERIFY(release(*control, id.value()));
        // logind notices the closed descriptor in its own time.
        QTRY_VERIFY(logindHoldsNothing(logind));
    }

    void anOlderLogindGetsABlockingLockOnceItRefusesTheWeakOne()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        // systemd before 257 refuses modes it does not know, as InvalidArgs.
        QVERIFY(
            logind->addMethod(logindInterface, QStringLiteral("Inhibit"), QStringLiteral("ssss"), QStringLiteral("h"),
                QStringLiteral("if args[3] != 'block':\n"
                               "    raise dbus.exceptions.DBusException('Unknown inhibit mode', "
                               "name='org.freedesktop.DBus.Error.InvalidArgs')\n"
                               "import os\n"
                               "r, w = os.pipe()\n"
                               "self.fds = getattr(self, 'fds', []) + [r]\n"
                               "ret = dbus.types.UnixFd(w)\n"
                               "os.close(w)")));
        auto control = newControl();
        QVERIFY(create(*control, AssertionKind::systemSleep));
        QVERIFY(create(*control, AssertionKind::displaySleep));
        const auto modes = logind->callsOf(QStringLiteral("Inhibit"));
        QCOMPARE(modes.size(), 3); // weak refused once, then "block" for both
        QCOMPARE(modes[0].value(3).toString(), QStringLiteral("block-weak"));
        QCOMPARE(modes[1].value(3).toString(), QStringLiteral("block"));
        QCOMPARE(modes[2].value(3).toString(), QStringLiteral("block"));
    }

    void theSessionManagerComesFirst()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *saver = startCookieService(*buses, screenSaverService, screenSaverPath, screenSaverInterface, &error);
        QVERIFY2(saver, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        DBusMock *gnome = startGnomeSession(*buses, &error);
        QVERIFY2(gnome, qPrintable(error));

        auto control = newControl();
        const auto system = create(*control, AssertionKind::systemSleep);
        const auto display = create(*control, AssertionKind::displaySleep);
        QVERIFY(system && display);
        QVERIFY(system.value() != display.value());
        QCOMPARE(control->backendOf(system.value()), QStringLiteral("org.gnome.SessionManager"));

        auto held = heldBy(gnome, gnomeSessionInterface);
        std::sort(held.begin(), held.end(), [](const auto &a, const auto &b) { return a.flags < b.flags; });
        QCOMPARE(held.size(), 2);
        QCOMPARE(held[0].who, QStringLiteral("com.quorvel.WakoraApp"));
        QCOMPARE(held[0].flags, 4u); // suspend
        QCOMPARE(held[0].why, why(AssertionKind::systemSleep));
        QCOMPARE(held[1].flags, 8u); // idle
        QCOMPARE(held[1].why, why(AssertionKind::displaySleep));
        const auto inhibitCall = gnome->callsOf(QStringLiteral("Inhibit")).value(0);
        QCOMPARE(inhibitCall.value(1).toUInt(), 0u); // no toplevel window
        QVERIFY(heldBy(saver, screenSaverInterface).isEmpty());
        QVERIFY(heldBy(portal, portalInterface).isEmpty());
        QVERIFY(logindInhibitors(logind)->isEmpty());

        // Giving one back leaves the other held.
        QVERIFY(release(*control, system.value()));
        QCOMPARE(heldBy(gnome, gnomeSessionInterface).size(), 1);
        QCOMPARE(heldBy(gnome, gnomeSessionInterface).first().flags, 8u);
        QVERIFY(release(*control, display.value()));
        QVERIFY(heldBy(gnome, gnomeSessionInterface).isEmpty());
    }

    void plasmaAndXfceTakeCookiesFromTheirOwnServices()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        DBusMock *power = startCookieService(*buses, powerService, powerPath, powerInterface, &error);
        QVERIFY2(power, qPrintable(error));
        DBusMock *saver = startCookieService(*buses, screenSaverService, screenSaverPath, screenSaverInterface, &error);
        QVERIFY2(saver, qPrintable(error));

        auto control = newControl();
        const auto system = create(*control, AssertionKind::systemSleep);
        const auto display = create(*control, AssertionKind::displaySleep);
        QVERIFY(system && display);
        QCOMPARE(heldBy(power, powerInterface).size(), 1);
        QCOMPARE(heldBy(power, powerInterface).first().who, QStringLiteral("Wakora"));
        QCOMPARE(heldBy(power, powerInterface).first().why, why(AssertionKind::systemSleep));
        QCOMPARE(heldBy(saver, screenSaverInterface).size(), 1);
        QCOMPARE(heldBy(saver, screenSaverInterface).first().why, why(AssertionKind::displaySleep));
        // Our identifier is our own, not the service's cookie.
        QVERIFY(heldBy(power, powerInterface).first().handle != QString::number(system.value()));
        QVERIFY(heldBy(portal, portalInterface).isEmpty());
        QVERIFY(logindInhibitors(logind)->isEmpty());

        QVERIFY(release(*control, system.value()));
        QVERIFY(release(*control, display.value()));
        QVERIFY(heldBy(power, powerInterface).isEmpty());
        QVERIFY(heldBy(saver, screenSaverInterface).isEmpty());
        // Releasing again, or something never handed out, changes nothing and succeeds.
        QVERIFY(release(*control, system.value()));
        QVERIFY(release(*control, 77));
    }

    void eachKindLooksOnWhereItsServiceIsMissing()
    {
        // A power manager without a screen saver (Xfce without xfce4-screensaver).
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *power = startCookieService(*buses, powerService, powerPath, powerInterface, &error);
        QVERIFY2(power, qPrintable(error));

        auto control = newControl();
        const auto display = create(*control, AssertionKind::displaySleep);
        QVERIFY(display);
        QCOMPARE(control->backendOf(display.value()), QStringLiteral("logind"));
        QCOMPARE(logindInhibitors(logind)->value(0).what, QStringLiteral("idle"));
        QVERIFY(heldBy(power, powerInterface).isEmpty());
    }

    void thePortalServesWhenNothingAboveAnswersAndFirstInASandbox_data()
    {
        QTest::addColumn<bool>("sandboxed");
        QTest::addColumn<bool>("withSessionManager");
        QTest::newRow("host, no desktop service") << false << false;
        QTest::newRow("sandbox, a session manager too") << true << true;
    }

    void thePortalServesWhenNothingAboveAnswersAndFirstInASandbox()
    {
        QFETCH(bool, sandboxed);
        QFETCH(bool, withSessionManager);
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        DBusMock *gnome = withSessionManager ? startGnomeSession(*buses, &error) : nullptr;
        QVERIFY2(!withSessionManager || gnome, qPrintable(error));

        auto control = newControl(sandboxed);
        const auto system = create(*control, AssertionKind::systemSleep);
        const auto display = create(*control, AssertionKind::displaySleep);
        QVERIFY(system && display);
        auto held = heldBy(portal, portalInterface);
        std::sort(held.begin(), held.end(), [](const auto &a, const auto &b) { return a.flags < b.flags; });
        QCOMPARE(held.size(), 2);
        QCOMPARE(held[0].flags, 4u);
        QCOMPARE(held[0].why, why(AssertionKind::systemSleep));
        QCOMPARE(held[1].flags, 8u);
        QVERIFY(logindInhibitors(logind)->isEmpty());
        if (gnome)
            QVERIFY(heldBy(gnome, gnomeSessionInterface).isEmpty());

        QVERIFY(release(*control, system.value()));
        QCOMPARE(heldBy(portal, portalInterface).size(), 1);
        QVERIFY(release(*control, display.value()));
        QVERIFY(heldBy(portal, portalInterface).isEmpty());
    }

    void aPortalThatCannotInhibitIsPassedOver_data()
    {
        QTest::addColumn<bool>("offersInhibit");
        QTest::addColumn<uint>("response");
        QTest::addColumn<bool>("silent");
        QTest::newRow("no Inhibit interface") << false << 0u << false;
        QTest::newRow("its backend refuses (Response 2)") << true << 2u << false;
        QTest::newRow("its backend cancels (Response 1)") << true << 1u << false;
        QTest::newRow("no Response at all") << true << 0u << true;
    }

    void aPortalThatCannotInhibitIsPassedOver()
    {
        QFETCH(bool, offersInhibit);
        QFETCH(uint, response);
        QFETCH(bool, silent);
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error, offersInhibit, response, silent);
        QVERIFY2(portal, qPrintable(error));

        auto control = newControl();
        PowerController controller(control);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        QVERIFY(controller.isEnabled(AssertionKind::systemSleep));
        QCOMPARE(logindInhibitors(logind)->size(), 1);
        if (offersInhibit)
            QCOMPARE(portal->callsOf(QStringLiteral("Inhibit")).size(), 1);
        // A request the portal never answered is closed, not left to hold the machine later.
        QTRY_VERIFY(heldBy(portal, portalInterface).isEmpty());
        QCoro::waitFor(controller.releaseAll());
    }

    void aPortalThatRestartsIsReplaced()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        auto control = newControl(true);
        PowerController controller(control);
        QSignalSpy changes(&controller, &PowerToggling::didChange);
        QSignalSpy retaken(control.get(), &InhibitorPowerControl::retaken);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::displaySleep)));
        QCOMPARE(heldBy(portal, portalInterface).size(), 1);

        buses->removeMock(portal);
        QTRY_COMPARE(retaken.size(), 1);
        QCOMPARE(retaken.first().value(1).toString(), QStringLiteral("logind"));
        QCOMPARE(logindInhibitors(logind)->value(0).what, QStringLiteral("idle"));
        // Still held, only elsewhere: nothing for the interface to show.
        QVERIFY(controller.isEnabled(AssertionKind::displaySleep));
        QCOMPARE(changes.size(), 1);
        QCoro::waitFor(controller.releaseAll());
        QTRY_VERIFY(logindHoldsNothing(logind));
    }

    void aHolderThatLeavesIsReplacedByTheNextService()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *gnome = startGnomeSession(*buses, &error);
        QVERIFY2(gnome, qPrintable(error));
        auto control = newControl();
        PowerController controller(control);
        QSignalSpy retaken(control.get(), &InhibitorPowerControl::retaken);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        QCOMPARE(heldBy(gnome, gnomeSessionInterface).size(), 1);

        // gnome-session restarts: until it is back, logind holds the lock.
        buses->removeMock(gnome);
        QTRY_COMPARE(retaken.size(), 1);
        QCOMPARE(logindInhibitors(logind)->size(), 1);
        QVERIFY(controller.isEnabled(AssertionKind::systemSleep));

        QVERIFY(QCoro::waitFor(controller.toggle(false, AssertionKind::systemSleep)));
        QTRY_VERIFY(logindHoldsNothing(logind));
    }

    void aHolderThatLeavesWithNothingToReplaceItWaitsForAService()
    {
        DBusMock *power = startCookieService(*buses, powerService, powerPath, powerInterface, &error);
        QVERIFY2(power, qPrintable(error));
        auto control = newControl();
        PowerController controller(control);
        QSignalSpy changes(&controller, &PowerToggling::didChange);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        QCOMPARE(changes.size(), 1);

        buses->removeMock(power);
        QTRY_COMPARE(changes.size(), 2);
        // Not "on" over nothing, and not forgotten either.
        QVERIFY(!controller.isEnabled(AssertionKind::systemSleep));
        QVERIFY(controller.isWaiting(AssertionKind::systemSleep));
        QVERIFY(!controller.activeSince());
        // Turning it on again asks again, and fails plainly with nothing there.
        const auto again = QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep));
        QVERIFY(!again);
        QCOMPARE(again.error(), PowerError::assertionCreateFailed(-ENOENT));
        QVERIFY(controller.isWaiting(AssertionKind::systemSleep));

        // The service comes back: the kind is held there again, unasked.
        DBusMock *back = startCookieService(*buses, powerService, powerPath, powerInterface, &error);
        QVERIFY2(back, qPrintable(error));
        QTRY_VERIFY(controller.isEnabled(AssertionKind::systemSleep));
        QCOMPARE(heldBy(back, powerInterface).size(), 1);
        QVERIFY(controller.activeSince());
        QVERIFY(QCoro::waitFor(controller.toggle(false, AssertionKind::systemSleep)));
        QTRY_VERIFY(heldBy(back, powerInterface).isEmpty());
    }

    void aWaitingKindSwitchedOffStaysOffWhenAServiceAppears()
    {
        DBusMock *power = startCookieService(*buses, powerService, powerPath, powerInterface, &error);
        QVERIFY2(power, qPrintable(error));
        auto control = newControl();
        PowerController controller(control);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        buses->removeMock(power);
        QTRY_VERIFY(controller.isWaiting(AssertionKind::systemSleep));
        QVERIFY(QCoro::waitFor(controller.toggle(false, AssertionKind::systemSleep)));
        QVERIFY(!controller.isAskedFor(AssertionKind::systemSleep));

        DBusMock *back = startCookieService(*buses, powerService, powerPath, powerInterface, &error);
        QVERIFY2(back, qPrintable(error));
        QTest::qWait(500);
        QVERIFY(heldBy(back, powerInterface).isEmpty());
        QVERIFY(!controller.isEnabled(AssertionKind::systemSleep));
    }

    // gnome-session starts after the agent (or comes back after a restart):
    // the hold moves from logind to it, taken there before logind's lock is
    // given back.
    void aBetterServiceThatAppearsTakesTheHoldOver()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        auto control = newControl();
        PowerController controller(control);
        QSignalSpy changes(&controller, &PowerToggling::didChange);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::displaySleep)));
        QCOMPARE(logindInhibitors(logind)->size(), 2);

        int logindLocksWhenTaken = -1;
        connect(control.get(), &InhibitorPowerControl::retaken, this, [&](quint32, const QString &backend) {
            if (backend == gnomeSessionService && logindLocksWhenTaken < 0)
                logindLocksWhenTaken = int(logindInhibitors(logind).value_or(QList<LogindInhibitor>{}).size());
        });
        DBusMock *gnome = startGnomeSession(*buses, &error);
        QVERIFY2(gnome, qPrintable(error));
        QTRY_COMPARE(heldBy(gnome, gnomeSessionInterface).size(), 2);
        QTRY_VERIFY(logindHoldsNothing(logind));
        QVERIFY2(logindLocksWhenTaken > 0, "logind's lock was given back before the session manager held the kind");
        // The switches never moved.
        QVERIFY(controller.isEnabled(AssertionKind::systemSleep));
        QVERIFY(controller.isEnabled(AssertionKind::displaySleep));
        QCOMPARE(changes.size(), 2);

        QCoro::waitFor(controller.releaseAll());
        QTRY_VERIFY(heldBy(gnome, gnomeSessionInterface).isEmpty());
        QVERIFY(logindHoldsNothing(logind));
    }

    // A service that grants an inhibit it then does not list (a desktop that
    // dropped it, or answered success without taking it): the next service
    // of the chain holds the kind. Checked after each take and after each
    // resume from sleep.
    void aHoldItsServiceDoesNotListMovesToTheNextService()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        DBusMock *gnome = startGnomeSession(*buses, &error);
        QVERIFY2(gnome, qPrintable(error));
        auto control = newControl();
        PowerController controller(control);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        QCOMPARE(heldBy(gnome, gnomeSessionInterface).size(), 1);
        QTest::qWait(300); // its list cannot be read: it is taken at its word
        QCOMPARE(control->backendOf(1), gnomeSessionService);

        // From now on its list answers, without us in it; a resume makes the agent look.
        QVERIFY(gnome->addMethod(gnomeSessionInterface, QStringLiteral("GetInhibitors"), QString(),
            QStringLiteral("ao"), QStringLiteral("ret = dbus.Array([], signature='o')")));
        QVERIFY(
            logind
                ->mockCall(QStringLiteral("EmitSignal"),
                    { logindInterface, QStringLiteral("PrepareForSleep"), QStringLiteral("b"), QVariantList{ false } })
                .type()
            == QDBusMessage::ReplyMessage);
        QTRY_COMPARE(control->backendOf(1), QStringLiteral("logind"));
        QTRY_VERIFY(heldBy(gnome, gnomeSessionInterface).isEmpty());
        QVERIFY(controller.isEnabled(AssertionKind::systemSleep));

        // A new take is checked at once.
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::displaySleep)));
        QTRY_COMPARE(logindInhibitors(logind)->size(), 2);
        QCoro::waitFor(controller.releaseAll());
        QTRY_VERIFY(logindHoldsNothing(logind));
    }

    void nothingReachableLeavesTheControllerOff()
    {
        auto control = newControl();
        PowerController controller(control);
        const auto result = QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep));
        QVERIFY(!result);
        QCOMPARE(result.error(), PowerError::assertionCreateFailed(-ENOENT));
        QVERIFY(!controller.isEnabled(AssertionKind::systemSleep));
        QVERIFY(!controller.activeSince());

        // A service that comes up later is found on the next attempt.
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        QCOMPARE(logindInhibitors(logind)->size(), 1);
        QCoro::waitFor(controller.releaseAll());
    }

    void aGrantAfterTheTimeOutIsGivenBack_data()
    {
        QTest::addColumn<QString>("service");
        QTest::newRow("power manager's cookie") << powerService;
        QTest::newRow("portal's request") << portalService;
    }

    void aGrantAfterTheTimeOutIsGivenBack()
    {
        QFETCH(QString, service);
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        const bool portal = service == portalService;
        // The service takes the inhibit a second after it is asked, long after we stopped waiting.
        DBusMock *slow = portal ? startPortal(*buses, &error, true, 0, false, 1.0)
                                : startCookieService(*buses, powerService, powerPath, powerInterface, &error, 1.0);
        QVERIFY2(slow, qPrintable(error));
        const QString interface = portal ? portalInterface : powerInterface;

        auto control = newControl(false, std::chrono::milliseconds(250));
        const auto id = create(*control, AssertionKind::systemSleep);
        QVERIFY(id);
        QCOMPARE(control->backendOf(id.value()), QStringLiteral("logind"));
        QCOMPARE(logindInhibitors(logind)->size(), 1);

        // It was taken, then given straight back.
        QTRY_VERIFY_WITH_TIMEOUT(
            slow->callsOf(QStringLiteral("Inhibit")).size() == 1 && heldBy(slow, interface).isEmpty(), 5000);
        if (!portal)
            QCOMPARE(slow->callsOf(QStringLiteral("UnInhibit")).size(), 1);
        QVERIFY(release(*control, id.value()));
        QVERIFY(logindHoldsNothing(logind));
    }

    void aServiceThatArrivesLaterIsUsedOnceHeard()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        auto control = newControl();
        const auto before = create(*control, AssertionKind::systemSleep);
        QVERIFY(before);
        QCOMPARE(control->backendOf(before.value()), QStringLiteral("logind"));

        // The session manager was asked about once, then followed: its arrival is heard.
        DBusMock *gnome = startGnomeSession(*buses, &error);
        QVERIFY2(gnome, qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const auto id = create(*control, AssertionKind::displaySleep);
                const bool bySessionManager = id && control->backendOf(id.value()) == gnomeSessionService;
                if (id)
                    release(*control, id.value());
                return bySessionManager;
            }(),
            5000);

        // And once it has left, the next inhibit goes to logind again at once.
        gnome->stop();
        const auto after = create(*control, AssertionKind::displaySleep);
        QVERIFY(after);
        QCOMPARE(control->backendOf(after.value()), QStringLiteral("logind"));
        QVERIFY(release(*control, after.value()));
        QVERIFY(release(*control, before.value()));
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
        const auto id = create(*control, AssertionKind::displaySleep);
        QVERIFY(!id);
        QCOMPARE(id.error(), PowerError::assertionCreateFailed(code));
    }

    void aRefusedReleaseKeepsTheKindHeld()
    {
        DBusMock *saver = startCookieService(*buses, screenSaverService, screenSaverPath, screenSaverInterface, &error);
        QVERIFY2(saver, qPrintable(error));
        auto control = newControl();
        PowerController controller(control);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::displaySleep)));
        const QString cookie = heldBy(saver, screenSaverInterface).value(0).handle;

        QVERIFY(saver->addMethod(screenSaverInterface, QStringLiteral("UnInhibit"), QStringLiteral("u"), QString(),
            QStringLiteral(
                "raise dbus.exceptions.DBusException('busy', name='org.freedesktop.DBus.Error.AccessDenied')")));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("Failed to release assertion")));
        const auto refused = QCoro::waitFor(controller.toggle(false, AssertionKind::displaySleep));
        QVERIFY(!refused);
        QCOMPARE(refused.error(), PowerError::assertionReleaseFailed(-EACCES));
        QVERIFY(controller.isEnabled(AssertionKind::displaySleep));

        // Once the service relents, the same cookie is given back.
        QVERIFY(saver->addMethod(screenSaverInterface, QStringLiteral("UnInhibit"), QStringLiteral("u"), QString(),
            QStringLiteral("del self.held[int(args[0])]")));
        QVERIFY(QCoro::waitFor(controller.toggle(false, AssertionKind::displaySleep)));
        QVERIFY(!controller.isEnabled(AssertionKind::displaySleep));
        QVERIFY(heldBy(saver, screenSaverInterface).isEmpty());
        const auto calls = saver->callsOf(QStringLiteral("UnInhibit"));
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[0].value(0).toString(), cookie);
        QCOMPARE(calls[1].value(0).toString(), cookie);
    }

    void aRefusedPortalCloseKeepsTheRequest()
    {
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        auto control = newControl();
        const auto id = create(*control, AssertionKind::systemSleep);
        QVERIFY(id);
        const QString request = heldBy(portal, portalInterface).value(0).handle;
        QVERIFY(portal->addMethod(QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"), QString(),
            QString(),
            QStringLiteral("raise dbus.exceptions.DBusException('no', name='org.freedesktop.DBus.Error.NoReply')"),
            request));
        const auto refused = release(*control, id.value());
        QVERIFY(!refused);
        QCOMPARE(refused.error(), PowerError::assertionReleaseFailed(-ETIMEDOUT));
        QCOMPARE(heldBy(portal, portalInterface).size(), 1);
        QCOMPARE(control->backendOf(id.value()), QStringLiteral("desktop portal"));
    }

    void destroyingTheControlGivesBackWhatItHolds()
    {
        DBusMock *gnome = startGnomeSession(*buses, &error);
        QVERIFY2(gnome, qPrintable(error));
        DBusMock *portal = startPortal(*buses, &error);
        QVERIFY2(portal, qPrintable(error));
        {
            auto control = newControl(true);
            QVERIFY(create(*control, AssertionKind::systemSleep));
            QCOMPARE(heldBy(portal, portalInterface).size(), 1);
        }
        QTRY_VERIFY(heldBy(portal, portalInterface).isEmpty());
        {
            auto control = newControl();
            QVERIFY(create(*control, AssertionKind::displaySleep));
            QCOMPARE(heldBy(gnome, gnomeSessionInterface).size(), 1);
        }
        QTRY_VERIFY(heldBy(gnome, gnomeSessionInterface).isEmpty());
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
        QTRY_VERIFY(logindHoldsNothing(logind));
    }
};

// Run with --hold-system-sleep, the program takes a system-sleep assertion on
// the buses its environment names, says "held" and waits to be killed.
static int holdSystemSleep(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    InhibitorPowerControl control(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
    const auto id = QCoro::waitFor(control.createAssertion(AssertionKind::systemSleep));
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
