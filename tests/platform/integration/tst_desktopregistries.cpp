#include "DesktopDaemons.h"
#include "InhibitMocks.h"
#include "MenuBarService.h"
#include "StartOrSkip.h"
#include "SystemPowerStatus.h"
#include "SystemRunningApplications.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cerrno>

#include <unistd.h>

using namespace InhibitMocks;
using namespace Qt::StringLiterals;

// For a failed comparison: what differs.
char *toString(const ProcessAssertion &assertion)
{
    return qstrdup(qPrintable(u"{%1, %2, \"%3\", %4}"_s.arg(assertion.pid)
                                  .arg(assertion.type, assertion.reason,
                                      assertion.processName ? u"\""_s + *assertion.processName + u'"' : u"-"_s)));
}

// The status reader merging the desktops' own lists with logind's: the real
// xfce4-power-manager and gnome-session under an X server of our own, and a
// stand-in for KDE's PowerDevil, which does not run outside Plasma. A
// stand-in application with a desktop entry in a temporary data folder
// takes inhibits; this test process owns the agent's bus name, so our own
// entries must come out under its pid.
class TestDesktopRegistries : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    std::unique_ptr<DesktopHome> home;
    std::unique_ptr<XvfbDisplay> display;
    std::unique_ptr<DesktopDaemon> daemon;
    std::unique_ptr<StandInApplication> standIn;
    std::unique_ptr<StandInApplication> window; // our window program, which holds nothing
    QString error;

    const qint32 ownPid = qint32(QCoreApplication::applicationPid());

    std::shared_ptr<SystemRunningApplications> directory() const
    {
        SystemRunningApplications::Sources sources;
        sources.procRoot = u"/proc"_s;
        sources.dataDirs = QStringList{ home->dataDirectory() };
        sources.searchPath = QStringList{ home->path(u"bin"_s) };
        sources.locale = QLocale::c();
        sources.uid = ::getuid();
        return std::make_shared<SystemRunningApplications>(sources);
    }

    SystemPowerStatus newStatus(std::shared_ptr<SystemRunningApplications> applications = nullptr)
    {
        return SystemPowerStatus(buses->bus(MockBuses::system).newConnection(),
            buses->bus(MockBuses::session).newConnection(), applications ? applications : directory(),
            QStringLiteral(WAKORA_PMSET_BUILD_PATH));
    }

    // A connection of this process that owns the agent's name, as the agent does.
    QDBusConnection ownAgentName()
    {
        QDBusConnection agent = buses->bus(MockBuses::session).newConnection();
        agent.registerService(MenuBarService::machServiceName());
        return agent;
    }

    void startDisplay()
    {
        display = std::make_unique<XvfbDisplay>();
        WAKORA_START_OR_SKIP(display->start());
    }

    void startStandIn(const QStringList &arguments)
    {
        standIn = std::make_unique<StandInApplication>();
        const QString why = standIn->start(*home, buses->environment(), arguments);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        window = std::make_unique<StandInApplication>();
        const QString windowWhy = window->start(*home, buses->environment(), {}, u"wakora-window"_s);
        QVERIFY2(windowWhy.isEmpty(), qPrintable(windowWhy));
    }

    static QList<ProcessAssertion> sorted(QList<ProcessAssertion> assertions)
    {
        std::stable_sort(
            assertions.begin(), assertions.end(), [](const ProcessAssertion &a, const ProcessAssertion &b) {
                if (a.pid != b.pid)
                    return a.pid < b.pid;
                if (a.type != b.type)
                    return a.type < b.type;
                return a.reason < b.reason;
            });
        return assertions;
    }

    // How many assertions there are now; -1 when the query fails.
    static qsizetype countNow(SystemPowerStatus &status)
    {
        const auto result = QCoro::waitFor(status.assertions());
        return result ? result.value().size() : -1;
    }

    static bool logindHolds(DBusMock *logind, const QString &why)
    {
        const auto held = logindInhibitors(logind);
        return held && std::any_of(held->cbegin(), held->cend(), [&why](const LogindInhibitor &lock) {
            return lock.why == why;
        });
    }

    static bool replied(const QDBusMessage &reply)
    {
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        qWarning("call failed: %s %s", qUtf8Printable(reply.errorName()), qUtf8Printable(reply.errorMessage()));
        return false;
    }

    DBusMock *startPolicyAgent(const QString &listing)
    {
        const QString interface = u"org.kde.Solid.PowerManagement.PolicyAgent"_s;
        DBusMock *agent = buses->startObject(
            MockBuses::session, interface, u"/org/kde/Solid/PowerManagement/PolicyAgent"_s, interface, &error);
        if (agent && !listing.isEmpty()
            && !agent->addMethod(interface, u"ListInhibitions"_s, QString(), u"a(ss)"_s,
                u"ret = dbus.Array([%1], signature='(ss)')"_s.arg(listing)))
            return nullptr;
        return agent;
    }

    bool listLogind(DBusMock *logind, const QString &entries)
    {
        return logind->addMethod(logindInterface, u"ListInhibitors"_s, QString(), u"a(ssssuu)"_s,
            u"ret = dbus.Array([%1], signature='(ssssuu)')"_s.arg(entries));
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
        home = std::make_unique<DesktopHome>();
        QVERIFY(home->isValid());
        QVERIFY(StandInApplication::install(*home));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            buses->printLogs();
            if (daemon)
                qInfo().noquote() << "---- log of the desktop daemon ----\n" << daemon->log();
        }
        standIn.reset();
        window.reset();
        daemon.reset();
        display.reset();
        buses.reset();
        home.reset();
    }

    void xfcePowerManagersListIsMerged()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        startDisplay();
        daemon = std::make_unique<DesktopDaemon>();
        WAKORA_START_OR_SKIP(daemon->startXfcePowerManager(*buses, *display, *home));

        // Named by its program's path, as some browsers do.
        startStandIn({ u"freedesktop"_s, u"/usr/lib/stand-in/wakora-standin"_s, u"Playing"_s });
        QDBusConnection agent = ownAgentName();
        QDBusMessage inhibit = QDBusMessage::createMethodCall(u"org.freedesktop.PowerManagement"_s,
            u"/org/freedesktop/PowerManagement/Inhibit"_s, u"org.freedesktop.PowerManagement.Inhibit"_s, u"Inhibit"_s);
        inhibit << u"Wakora"_s << u"Wakora: prevent system sleep"_s;
        QVERIFY(replied(agent.call(inhibit, QDBus::Block, 5000)));
        // xfce4-power-manager 4.18 (Debian 12) takes logind's handle-* lock
        // for the keys it handles itself, and it must not be listed; 4.20
        // (Debian 13) takes none without a seat, and nothing changes below.
        if (!logindHolds(logind, u"xfce4-power-manager handles these events"_s))
            qInfo("This xfce4-power-manager holds no logind lock of its own here");

        const auto applications = directory();
        SystemPowerStatus status = newStatus(applications);
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(result);
        // xfce4-power-manager keeps no reasons; its own logind lock is left out.
        const QList<ProcessAssertion> expected = sorted({
            { standIn->pid(), u"sleep"_s, QString(), u"Stand-in Player"_s },
            { ownPid, u"sleep"_s, QString(), u"Wakora"_s },
        });
        QCOMPARE(result.value(), expected);

        // What the window shows for that pid: the entry's name and icon.
        const auto application = applications->application(standIn->pid());
        QVERIFY(application && application->isRegular);
        QCOMPARE(application->localizedName, u"Stand-in Player"_s);
        QCOMPARE(application->iconName, u"media-playback-start"_s);

        // Released, gone from the list.
        standIn->stop();
        QTRY_COMPARE_WITH_TIMEOUT(countNow(status), 1, 5000);
    }

    void gnomeSessionsListIsMerged()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        startDisplay();
        daemon = std::make_unique<DesktopDaemon>();
        WAKORA_START_OR_SKIP(daemon->startGnomeSession(*buses, *display, *home));

        startStandIn({ u"gnome"_s, u"org.example.StandIn"_s, u"Playing a film"_s, u"12"_s, // suspend and idle
            u"gnome"_s, u"org.example.StandIn"_s, u"Unsaved work"_s, u"1"_s, // logging out only
            u"gnome"_s, u"org.example.Missing"_s, u"Copying"_s, u"4"_s });
        QDBusConnection agent = ownAgentName();
        QDBusMessage inhibit = QDBusMessage::createMethodCall(
            u"org.gnome.SessionManager"_s, u"/org/gnome/SessionManager"_s, u"org.gnome.SessionManager"_s, u"Inhibit"_s);
        inhibit << u"com.quorvel.WakoraApp"_s << 0u << u"Wakora: prevent display sleep"_s << 8u;
        QVERIFY(replied(agent.call(inhibit, QDBus::Block, 5000)));
        // gnome-session stands in for its inhibitors in logind.
        QTRY_VERIFY_WITH_TIMEOUT(logindHolds(logind, u"user session inhibited"_s), 5000);

        SystemPowerStatus status = newStatus();
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(result);
        // An app id without an entry stays visible under a pid of its own.
        const QList<ProcessAssertion> expected = sorted({
            { -1, u"sleep"_s, u"Copying"_s, u"org.example.Missing"_s },
            { standIn->pid(), u"sleep:idle"_s, u"Playing a film"_s, u"Stand-in Player"_s },
            { ownPid, u"idle"_s, u"Wakora: prevent display sleep"_s, u"Wakora"_s },
        });
        QCOMPARE(result.value(), expected);
    }

    void kdesListIsMerged()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(listLogind(logind,
            u"('handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch', 'PowerDevil', "
            "'KDE handles power events', 'block', dbus.UInt32(1000), dbus.UInt32(800)),"
            "('sleep', 'Backup', 'Copying', 'block', dbus.UInt32(1000), dbus.UInt32(4300))"_s));
        // PowerDevil lists logind's block locks among its own.
        QVERIFY2(startPolicyAgent(u"('Stand-in Player', 'Playing'), ('Wakora', 'Wakora: prevent system sleep'), "
                                  "('Backup', 'Copying'), ('Unknown Tool', 'Compiling')"_s),
            qPrintable(error));
        startStandIn({});
        QDBusConnection agent = ownAgentName();

        SystemPowerStatus status = newStatus();
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(result);
        const QList<ProcessAssertion> expected = sorted({
            { -1, u"sleep"_s, u"Compiling"_s, u"Unknown Tool"_s },
            { 4300, u"sleep"_s, u"Copying"_s, u"Backup"_s },
            { standIn->pid(), u"sleep"_s, u"Playing"_s, u"Stand-in Player"_s },
            { ownPid, u"sleep"_s, u"Wakora: prevent system sleep"_s, u"Wakora"_s },
        });
        QCOMPARE(result.value(), expected);
    }

    void withoutLogindTheDesktopsListAnswers()
    {
        QVERIFY2(startPolicyAgent(u"('Unknown Tool', 'Compiling')"_s), qPrintable(error));
        SystemPowerStatus status = newStatus();
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(result);
        QCOMPARE(result.value(), QList<ProcessAssertion>({ { -1, u"sleep"_s, u"Compiling"_s, u"Unknown Tool"_s } }));

        // A logind that is there but refuses is a failure all the same.
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(logind->addMethod(logindInterface, u"ListInhibitors"_s, QString(), u"a(ssssuu)"_s,
            u"raise dbus.exceptions.DBusException('no', name='org.freedesktop.DBus.Error.AccessDenied')"_s));
        const auto refused = QCoro::waitFor(status.assertions());
        QVERIFY(!refused);
        QCOMPARE(refused.error(), PowerStatusError::assertionQueryFailed(-EACCES));
    }

    void aBrokenOrSlowRegistryIsSkipped()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(listLogind(logind, u"('sleep', 'Video', 'Playing', 'block', dbus.UInt32(1000), dbus.UInt32(4242))"_s));
        // PowerDevil without the list, an Xfce that never answers in time, and
        // a gnome-session whose inhibitor is gone before it is asked about.
        QVERIFY2(startPolicyAgent(QString()), qPrintable(error));
        DBusMock *xfce = buses->startObject(MockBuses::session, u"org.xfce.PowerManager"_s,
            u"/org/freedesktop/PowerManagement/Inhibit"_s, u"org.freedesktop.PowerManagement.Inhibit"_s, &error);
        QVERIFY2(xfce, qPrintable(error));
        QVERIFY(xfce->addMethod(u"org.freedesktop.PowerManagement.Inhibit"_s, u"GetInhibitors"_s, QString(), u"as"_s,
            u"import time\ntime.sleep(8)\nret = ['Late']"_s));
        DBusMock *gnome = buses->startObject(MockBuses::session, u"org.gnome.SessionManager"_s,
            u"/org/gnome/SessionManager"_s, u"org.gnome.SessionManager"_s, &error);
        QVERIFY2(gnome, qPrintable(error));
        QVERIFY(gnome->addMethod(u"org.gnome.SessionManager"_s, u"GetInhibitors"_s, QString(), u"ao"_s,
            u"ret = [dbus.ObjectPath('/org/gnome/SessionManager/Inhibitor9')]"_s));

        SystemPowerStatus status = newStatus();
        QElapsedTimer timer;
        timer.start();
        const auto result = QCoro::waitFor(status.assertions());
        const qint64 elapsed = timer.elapsed();
        QVERIFY(result);
        QCOMPARE(result.value(), QList<ProcessAssertion>({ { 4242, u"sleep"_s, u"Playing"_s, u"Video"_s } }));
        QVERIFY2(elapsed < 6000, qPrintable(u"took %1 ms"_s.arg(elapsed)));
    }

    void noRegistryIsStartedToBeAsked()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        // A session bus that would start any of them on demand.
        const QString marker = home->path(u"started"_s);
        const QString services = home->path(u"services"_s);
        QVERIFY(QDir().mkpath(services));
        for (const QString &name : { u"org.gnome.SessionManager"_s, u"org.kde.Solid.PowerManagement.PolicyAgent"_s,
                 u"org.xfce.PowerManager"_s, MenuBarService::machServiceName() }) {
            QVERIFY(home->write(u"services/%1.service"_s.arg(name),
                u"[D-BUS Service]\nName=%1\nExec=/bin/sh -c 'echo %1 >> %2'\n"_s.arg(name, marker).toUtf8()));
        }
        PrivateBus session(u"activating"_s);
        session.setServiceDirectories({ services });
        QVERIFY2(session.start(home->path(QString()), &error), qPrintable(error));

        SystemPowerStatus status(buses->bus(MockBuses::system).newConnection(), session.newConnection(), directory(),
            QStringLiteral(WAKORA_PMSET_BUILD_PATH));
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(result);
        QVERIFY(result.value().isEmpty());
        QTest::qWait(500); // a started service would have written by now
        QVERIFY(!QFile::exists(marker));

        // The bus does start them when asked to.
        QDBusMessage start = QDBusMessage::createMethodCall(
            u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus"_s, u"StartServiceByName"_s);
        start << u"org.xfce.PowerManager"_s << 0u;
        session.connection().call(start, QDBus::Block, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 5000);
    }
};

QTEST_GUILESS_MAIN(TestDesktopRegistries)
#include "tst_desktopregistries.moc"
