#include "AgentHarness.h"
#include "DesktopDaemons.h"
#include "StartOrSkip.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QTest>

#include <csignal>

using namespace InhibitMocks;

// The real agent and wakora command against the desktops' real daemons on
// private buses: xfce4-power-manager as Xfce runs it, and a minimal
// gnome-session. logind is the mock of AgentHarness, the last of the chain.
class TestDesktopSessions : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    std::unique_ptr<DesktopHome> home;
    std::unique_ptr<XvfbDisplay> display;
    std::unique_ptr<DesktopDaemon> daemon;
    QString error;

    QDBusMessage callOn(const QString &service, const QString &path, const QString &interface, const QString &method)
    {
        const QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        return harness->session().call(call, QDBus::Block, 5000);
    }

    // xfce4-power-manager's own answer: is anything inhibiting?
    std::optional<bool> xfceHasInhibit()
    {
        const QDBusMessage reply = callOn(QStringLiteral("org.freedesktop.PowerManagement"),
            QStringLiteral("/org/freedesktop/PowerManagement/Inhibit"),
            QStringLiteral("org.freedesktop.PowerManagement.Inhibit"), QStringLiteral("HasInhibit"));
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        return reply.arguments().value(0).toBool();
    }

    // logind's locks taken in our name (the desktops take locks of their own).
    qsizetype wakoraLocks()
    {
        const auto locks = harness->inhibitors();
        return std::count_if(
            locks.cbegin(), locks.cend(), [](const LogindInhibitor &lock) { return lock.who == u"Wakora"; });
    }

    struct GnomeInhibitor {
        QString appID, reason;
        uint flags = 0;
    };

    QList<GnomeInhibitor> gnomeInhibitors()
    {
        QList<GnomeInhibitor> result;
        const QDBusMessage reply
            = callOn(QStringLiteral("org.gnome.SessionManager"), QStringLiteral("/org/gnome/SessionManager"),
                QStringLiteral("org.gnome.SessionManager"), QStringLiteral("GetInhibitors"));
        const auto paths = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
        for (const QDBusObjectPath &path : paths) {
            const auto ask = [&](const char *method) {
                return callOn(QStringLiteral("org.gnome.SessionManager"), path.path(),
                    QStringLiteral("org.gnome.SessionManager.Inhibitor"), QString::fromLatin1(method))
                    .arguments()
                    .value(0);
            };
            result.append({ ask("GetAppId").toString(), ask("GetReason").toString(), ask("GetFlags").toUInt() });
        }
        return result;
    }

    // The display and the desktop's daemon; empty on success, else why not.
    QString startDaemon(bool gnome)
    {
        home = std::make_unique<DesktopHome>();
        display = std::make_unique<XvfbDisplay>();
        if (const QString why = display->start(); !why.isEmpty())
            return why;
        if (!gnome
            && !harness->buses.startTemplate(MockBuses::system, QStringLiteral("upower"),
                QStringLiteral("org.freedesktop.UPower"), QStringLiteral("/org/freedesktop/UPower"), &error))
            return error;
        daemon = std::make_unique<DesktopDaemon>();
        return gnome ? daemon->startGnomeSession(harness->buses, *display, *home)
                     : daemon->startXfcePowerManager(harness->buses, *display, *home);
    }

private Q_SLOTS:
    void init()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            harness->printLogs();
            if (daemon)
                qInfo("---- the desktop daemon's log ----\n%s", qUtf8Printable(daemon->log()));
        }
        harness.reset();
        daemon.reset();
        display.reset();
        home.reset();
    }

    void xfcePowerManagerHoldsSystemSleep()
    {
        WAKORA_START_OR_SKIP(startDaemon(false));
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QCOMPARE(xfceHasInhibit(), std::optional<bool>(false));

        // Everything said to xfce4-power-manager's inhibit interface, as it crosses the bus.
        QProcess monitor;
        monitor.start(QStringLiteral("dbus-monitor"),
            { QStringLiteral("--address"), harness->buses.bus(MockBuses::session).address(),
                QStringLiteral("type='method_call',interface='org.freedesktop.PowerManagement.Inhibit'") });
        QVERIFY(monitor.waitForStarted());
        QByteArray seen;
        QTRY_VERIFY((seen += monitor.readAllStandardOutput()).contains("NameAcquired"));

        QCOMPARE(harness->wakora({ QStringLiteral("on") }), 0);
        QCOMPARE(xfceHasInhibit(), std::optional<bool>(true));
        const QDBusMessage names = callOn(QStringLiteral("org.freedesktop.PowerManagement"),
            QStringLiteral("/org/freedesktop/PowerManagement/Inhibit"),
            QStringLiteral("org.freedesktop.PowerManagement.Inhibit"), QStringLiteral("GetInhibitors"));
        QCOMPARE(names.arguments().value(0).toStringList(), QStringList{ QStringLiteral("Wakora") });
        QCOMPARE(wakoraLocks(), 0); // not logind's: Xfce's own

        QCOMPARE(harness->wakora({ QStringLiteral("off") }), 0);
        // The cookie xfce4-power-manager handed out goes back to it. What it
        // does next is its own: 4.18.1 under Xvfb (no DPMS) often aborts on a
        // double free in its handler for an inhibitor that ends, whoever ends it.
        QTRY_VERIFY((seen += monitor.readAllStandardOutput()).contains("member=UnInhibit"));
        const QByteArray call = seen.mid(seen.indexOf("member=UnInhibit"));
        QVERIFY2(call.contains("uint32 "), call.constData());
        monitor.terminate();
        monitor.waitForFinished(3000);
    }

    void gnomeSessionHoldsBothKindsAndARestartIsCoveredByTheNextServiceUntilItIsBack()
    {
        WAKORA_START_OR_SKIP(startDaemon(true));
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QCOMPARE(harness->wakora({ QStringLiteral("on"), QStringLiteral("--display") }), 0);

        auto held = gnomeInhibitors();
        std::sort(held.begin(), held.end(), [](const auto &a, const auto &b) { return a.flags < b.flags; });
        QCOMPARE(held.size(), 2);
        QCOMPARE(held[0].appID, QStringLiteral("com.quorvel.WakoraApp"));
        QCOMPARE(held[0].flags, 4u);
        QCOMPARE(held[0].reason, QStringLiteral("Wakora: prevent system sleep"));
        QCOMPARE(held[1].flags, 8u);
        QCOMPARE(held[1].reason, QStringLiteral("Wakora: prevent display sleep"));
        // gnome-session took logind's lock itself, on behalf of the session.
        QTRY_VERIFY(!harness->inhibitors().isEmpty());
        QCOMPARE(wakoraLocks(), 0);

        // The session manager goes away: the agent takes both again from
        // logind, and the switches stay on.
        daemon->stop();
        QTRY_COMPARE(wakoraLocks(), 2);
        QByteArray output;
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(
            output.contains("잠자기 방지: 켜짐") && output.contains("디스플레이 켜 두기: 켜짐"), output.constData());
        // Only logind holds the display here, and nothing says the screen
        // follows it (no X server of the agent's own): the status says so.
        QVERIFY2(output.contains("화면이 꺼질 수 있습니다"), output.constData());

        // The session manager is back: both kinds move back to it, and
        // logind's locks are given back once it holds them.
        daemon = std::make_unique<DesktopDaemon>();
        WAKORA_START_OR_SKIP(daemon->startGnomeSession(harness->buses, *display, *home));
        QTRY_COMPARE_WITH_TIMEOUT(gnomeInhibitors().size(), 2, 10000);
        QTRY_COMPARE(wakoraLocks(), 0);
        QCOMPARE(harness->wakora({ QStringLiteral("status") }, &output), 0);
        QVERIFY2(
            output.contains("잠자기 방지: 켜짐") && output.contains("디스플레이 켜 두기: 켜짐"), output.constData());
        QVERIFY2(!output.contains("화면이 꺼질 수 있습니다"), output.constData());

        QCOMPARE(harness->wakora({ QStringLiteral("off"), QStringLiteral("--display") }), 0);
        QTRY_COMPARE(gnomeInhibitors().size(), 0);
        QCOMPARE(wakoraLocks(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDesktopSessions)
#include "tst_desktopsessions.moc"
