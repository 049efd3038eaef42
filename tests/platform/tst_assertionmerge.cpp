#include "AssertionMerge.h"
#include "DesktopInhibitor.h"
#include "DesktopProxyLocks.h"
#include "FakeRunningApplications.h"

#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

using Registry = DesktopInhibitor::Registry;
using Application = AssertionMerge::Application;

// How the lists of logind and of the desktops become one list of
// assertions: gnome-session's flags, the desktops' own locks, KDE's copies of
// logind's locks, our own entries, applications without a process, and the
// order of the result.
class TestAssertionMerge : public QObject
{
    Q_OBJECT

    static LogindInhibitor lock(
        const QString &what, const QString &who, const QString &why, quint32 pid, const QString &mode = u"block"_s)
    {
        return { what, who, why, mode, 1000, pid };
    }

    static DesktopInhibitor desktop(
        Registry registry, const QString &application, const QString &type, const QString &reason = QString())
    {
        return { registry, application, type, reason };
    }

private Q_SLOTS:
    void gnomeSessionFlagsName_data()
    {
        QTest::addColumn<uint>("flags");
        QTest::addColumn<QString>("type");
        QTest::newRow("suspend") << 4u << u"sleep"_s;
        QTest::newRow("idle") << 8u << u"idle"_s;
        QTest::newRow("both") << 12u << u"sleep:idle"_s;
        QTest::newRow("suspend and logout") << 5u << u"sleep"_s;
        QTest::newRow("everything") << 31u << u"sleep:idle"_s;
        QTest::newRow("logout") << 1u << QString();
        QTest::newRow("switch user, automount") << 18u << QString();
        QTest::newRow("none") << 0u << QString();
    }

    void gnomeSessionFlagsName()
    {
        QFETCH(uint, flags);
        QFETCH(QString, type);
        QCOMPARE(DesktopInhibitor::gnomeSessionType(flags).value_or(QString()), type);
    }

    void desktopsOwnLocksAreProxies_data()
    {
        QTest::addColumn<LogindInhibitor>("inhibitor");
        QTest::addColumn<bool>("proxy");
        // As each daemon writes them.
        QTest::newRow("gnome-session") << lock(u"sleep:shutdown"_s, u"alice"_s, u"user session inhibited"_s, 900)
                                       << true;
        QTest::newRow("gnome-session, shutdown only")
            << lock(u"shutdown"_s, u"alice"_s, u"user session inhibited"_s, 900) << true;
        QTest::newRow("gsd-media-keys") << lock(u"handle-power-key:handle-suspend-key:handle-hibernate-key"_s,
            u"alice"_s, u"GNOME handling keypresses"_s, 901)
                                        << true;
        QTest::newRow("gsd-power lid") << lock(
            u"handle-lid-switch"_s, u"alice"_s, u"External monitor attached or configuration changed recently"_s, 902)
                                       << true;
        QTest::newRow("PowerDevil") << lock(
            u"handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch"_s, u"PowerDevil"_s,
            u"KDE handles power events"_s, 903)
                                    << true;
        QTest::newRow("xfce4-power-manager")
            << lock(u"handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch"_s,
                   u"xfce4-power-manager"_s, u"xfce4-power-manager handles these events"_s, 904)
            << true;

        // Close, but somebody else's, or more than the keys.
        QTest::newRow("delay, same words")
            << lock(u"sleep"_s, u"alice"_s, u"user session inhibited"_s, 900, u"delay"_s) << false;
        QTest::newRow("lid with the same words")
            << lock(u"handle-lid-switch"_s, u"alice"_s, u"user session inhibited"_s, 900) << false;
        QTest::newRow("a sleep lock with a handler's words")
            << lock(u"sleep:handle-lid-switch"_s, u"PowerDevil"_s, u"KDE handles power events"_s, 903) << false;
        QTest::newRow("another program with PowerDevil's words")
            << lock(u"handle-lid-switch"_s, u"MyScript"_s, u"KDE handles power events"_s, 905) << false;
        QTest::newRow("a user's own lid lock")
            << lock(u"handle-lid-switch"_s, u"systemd-inhibit"_s, u"Keep running with the lid closed"_s, 906) << false;
        QTest::newRow("GNOME Shell's delay")
            << lock(u"sleep"_s, u"GNOME Shell"_s, u"GNOME needs to lock the screen"_s, 907, u"delay"_s) << false;
        QTest::newRow("an application") << lock(u"sleep:idle"_s, u"Video"_s, u"Playing"_s, 908) << false;
        QTest::newRow("nothing at all") << lock(QString(), u"alice"_s, u"user session inhibited"_s, 900) << false;
    }

    void desktopsOwnLocksAreProxies()
    {
        QFETCH(LogindInhibitor, inhibitor);
        QFETCH(bool, proxy);
        QCOMPARE(DesktopProxyLocks::isProxyLock(inhibitor), proxy);
    }

    void logindsEntriesAreSortedStably()
    {
        AssertionMerge::Listings listings;
        listings.logind = {
            lock(u"sleep"_s, u"Video"_s, u"b"_s, 900),
            lock(u"idle"_s, u"Player"_s, u"z"_s, 900),
            { u"sleep:idle"_s, QString(), QString(), u"delay"_s, 0, 12 },
            lock(u"sleep"_s, u"first"_s, u"a"_s, 900),
            lock(u"sleep"_s, u"second"_s, u"a"_s, 900),
        };
        const QList<ProcessAssertion> expected{
            // Without a `who`, no process name; pid first, then type, then reason.
            { 12, u"sleep:idle"_s, QString(), std::nullopt },
            { 900, u"idle"_s, u"z"_s, u"Player"_s },
            // Equal keys keep logind's order.
            { 900, u"sleep"_s, u"a"_s, u"first"_s },
            { 900, u"sleep"_s, u"a"_s, u"second"_s },
            { 900, u"sleep"_s, u"b"_s, u"Video"_s },
        };
        QCOMPARE(AssertionMerge::merge(listings), expected);
        QVERIFY(AssertionMerge::merge({}).isEmpty());
    }

    void everyRegistryIsMerged()
    {
        AssertionMerge::Listings listings;
        listings.logind = {
            lock(u"sleep:shutdown"_s, u"alice"_s, u"user session inhibited"_s, 700),
            lock(u"sleep"_s, u"Backup"_s, u"Copying"_s, 4300),
            lock(u"handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch"_s, u"PowerDevil"_s,
                u"KDE handles power events"_s, 800),
        };
        listings.desktop = {
            desktop(Registry::gnomeSession, u"org.example.Player"_s, u"sleep:idle"_s, u"Playing"_s),
            desktop(Registry::kde, u"Browser"_s, u"sleep"_s, u"Video call"_s),
            // PowerDevil's copy of logind's lock: listed once, under logind's pid.
            desktop(Registry::kde, u"Backup"_s, u"sleep"_s, u"Copying"_s),
            desktop(Registry::xfce, u"/usr/bin/browser"_s, u"sleep"_s),
        };
        listings.applications = {
            { u"org.example.Player"_s, { 5100, u"Player"_s } },
            { u"Browser"_s, { 5200, u"Web Browser"_s } },
            { u"/usr/bin/browser"_s, { 5200, u"Web Browser"_s } },
        };
        const QList<ProcessAssertion> expected{
            { 4300, u"sleep"_s, u"Copying"_s, u"Backup"_s },
            { 5100, u"sleep:idle"_s, u"Playing"_s, u"Player"_s },
            { 5200, u"sleep"_s, QString(), u"Web Browser"_s },
            { 5200, u"sleep"_s, u"Video call"_s, u"Web Browser"_s },
        };
        QCOMPARE(AssertionMerge::merge(listings), expected);
    }

    void onlyKdeCopiesLogindsBlockLocks()
    {
        AssertionMerge::Listings listings;
        listings.logind = {
            lock(u"sleep"_s, u"Backup"_s, u"Copying"_s, 4300, u"delay"_s),
            lock(u"shutdown"_s, u"Updater"_s, u"Installing"_s, 4400),
        };
        listings.desktop = {
            // PowerDevil copies neither a delay lock nor one without sleep or
            // idle: these are entries of their own.
            desktop(Registry::kde, u"Backup"_s, u"sleep"_s, u"Copying"_s),
            desktop(Registry::kde, u"Updater"_s, u"sleep"_s, u"Installing"_s),
            // The same words from gnome-session are its own inhibitor.
            desktop(Registry::gnomeSession, u"Backup"_s, u"sleep"_s, u"Copying"_s),
        };
        listings.applications = { { u"Backup"_s, { 4300, u"Backup"_s } }, { u"Updater"_s, { 4400, u"Updater"_s } } };
        const QList<ProcessAssertion> merged = AssertionMerge::merge(listings);
        QCOMPARE(merged.size(), 5);
        QCOMPARE(merged.count(ProcessAssertion{ 4300, u"sleep"_s, u"Copying"_s, u"Backup"_s }), 3);
    }

    void kdeEntriesTellWhatTheyHoldOff_data()
    {
        QTest::addColumn<QList<LogindInhibitor>>("logind");
        QTest::addColumn<QList<DesktopInhibitor>>("kde"); // with what PowerDevil has in effect
        QTest::addColumn<QStringList>("types"); // of each entry, in the order of `kde`

        const QString ourSleep = u"Wakora: prevent system sleep"_s;
        const QString ourDisplay = u"Wakora: prevent display sleep"_s;
        const auto kde = [](const QString &application, const QString &inEffect, const QString &reason) {
            return desktop(Registry::kde, application, inEffect, reason);
        };
        QTest::newRow("suspending alone in effect")
            << QList<LogindInhibitor>{}
            << QList{ kde(u"Player"_s, u"sleep"_s, u"Music"_s), kde(u"Wakora"_s, u"sleep"_s, ourSleep) }
            << QStringList{ u"sleep"_s, u"sleep"_s };
        // The screen policy holds off suspending too.
        QTest::newRow("the screen in effect, nothing known: one holds it")
            << QList<LogindInhibitor>{} << QList{ kde(u"Player"_s, u"sleep:idle"_s, u"Video"_s) }
            << QStringList{ u"sleep:idle"_s };
        QTest::newRow("ours hold suspending: the other holds the screen")
            << QList<LogindInhibitor>{}
            << QList{ kde(u"Wakora"_s, u"sleep:idle"_s, ourSleep), kde(u"Player"_s, u"sleep:idle"_s, u"Video"_s) }
            << QStringList{ u"sleep"_s, u"sleep:idle"_s };
        QTest::newRow("ours hold the screen: the other cannot be told, suspending")
            << QList<LogindInhibitor>{}
            << QList{ kde(u"Player"_s, u"sleep:idle"_s, u"Music"_s), kde(u"Wakora"_s, u"sleep:idle"_s, ourDisplay) }
            << QStringList{ u"sleep"_s, u"sleep:idle"_s };
        QTest::newRow("a copy of logind's idle lock accounts for the screen")
            << QList{ lock(u"idle"_s, u"Backup"_s, u"Copying"_s, 4300) }
            << QList{ kde(u"Backup"_s, u"sleep:idle"_s, u"Copying"_s), kde(u"Player"_s, u"sleep:idle"_s, u"Music"_s) }
            << QStringList{ u"idle"_s, u"sleep"_s };
        QTest::newRow("a copy of logind's sleep lock does not")
            << QList{ lock(u"sleep"_s, u"Backup"_s, u"Copying"_s, 4300) }
            << QList{ kde(u"Backup"_s, u"sleep:idle"_s, u"Copying"_s), kde(u"Player"_s, u"sleep:idle"_s, u"Video"_s) }
            << QStringList{ u"sleep"_s, u"sleep:idle"_s };
        QTest::newRow("several unknown with the screen in effect: each may hold it")
            << QList<LogindInhibitor>{}
            << QList{ kde(u"Player"_s, u"sleep:idle"_s, u"Video"_s), kde(u"Backup"_s, u"sleep:idle"_s, u"Copying"_s) }
            << QStringList{ u"sleep:idle"_s, u"sleep:idle"_s };
        // Another reason under our name (an older Wakora's) is not known to be ours.
        QTest::newRow("our name, another reason")
            << QList<LogindInhibitor>{}
            << QList{ kde(u"Wakora"_s, u"sleep:idle"_s, u"Old words"_s), kde(u"Player"_s, u"sleep:idle"_s, u"Video"_s) }
            << QStringList{ u"sleep:idle"_s, u"sleep:idle"_s };
        // An entry of ours not yet counted by PowerDevil keeps what we asked for.
        QTest::newRow("ours before they count")
            << QList<LogindInhibitor>{} << QList{ kde(u"Wakora"_s, u"sleep"_s, ourDisplay) }
            << QStringList{ u"sleep:idle"_s };
    }

    // PowerDevil's list carries no policy: each entry's comes from what is
    // in effect, and from what ours and its copies of logind's locks hold.
    void kdeEntriesTellWhatTheyHoldOff()
    {
        QFETCH(QList<LogindInhibitor>, logind);
        QFETCH(QList<DesktopInhibitor>, kde);
        QFETCH(QStringList, types);
        AssertionMerge::Listings listings;
        listings.logind = logind;
        listings.desktop = kde;
        listings.agentPid = 3000;
        for (qsizetype index = 0; index < kde.size(); ++index)
            if (!AssertionMerge::isWakora(kde.at(index).application))
                listings.applications.insert(kde.at(index).application, { 5000 + index, kde.at(index).application });
        const QList<ProcessAssertion> merged = AssertionMerge::merge(listings);
        // Every reason of a row is its own; a copy of logind's lock is shown from logind.
        QCOMPARE(merged.size(), kde.size());
        for (qsizetype index = 0; index < kde.size(); ++index) {
            const DesktopInhibitor &entry = kde.at(index);
            const auto found = std::find_if(merged.cbegin(), merged.cend(),
                [&entry](const ProcessAssertion &assertion) { return assertion.reason == entry.reason; });
            QVERIFY2(found != merged.cend(), qPrintable(entry.reason));
            QCOMPARE(found->type, types.at(index));
        }
    }

    void ourOwnEntriesAreTheAgents()
    {
        AssertionMerge::Listings listings;
        listings.logind = { lock(u"sleep"_s, u"Wakora"_s, u"Wakora: prevent system sleep"_s, 3000) };
        listings.desktop = {
            desktop(Registry::gnomeSession, u"com.quorvel.WakoraApp"_s, u"idle"_s, u"Wakora: prevent display sleep"_s),
            desktop(Registry::kde, u"Wakora"_s, u"sleep"_s, u"Wakora: prevent display sleep"_s),
            desktop(Registry::xfce, u"Wakora"_s, u"sleep"_s),
        };
        // Even when the directory would place our id elsewhere (the window
        // program's entry), the agent's pid is what counts.
        listings.applications = { { u"com.quorvel.WakoraApp"_s, { 6000, u"Wakora"_s } } };
        listings.agentPid = 3000;
        const QList<ProcessAssertion> merged = AssertionMerge::merge(listings);
        QCOMPARE(merged.size(), 4);
        for (const ProcessAssertion &assertion : merged) {
            QCOMPARE(assertion.pid, 3000);
            QCOMPARE(assertion.processName, u"Wakora"_s);
        }
        QCOMPARE(merged.first().type, u"idle"_s);

        // No agent on the bus: still ours, never someone else's pid.
        listings.agentPid.reset();
        const QList<ProcessAssertion> orphaned = AssertionMerge::merge(listings);
        QCOMPARE(orphaned.size(), 4);
        for (qsizetype index = 0; index < 3; ++index) {
            QCOMPARE(orphaned.at(index).pid, -1);
            QCOMPARE(orphaned.at(index).processName, u"Wakora"_s);
        }
        QCOMPARE(orphaned.at(3).pid, 3000); // logind's own
    }

    void applicationsWithoutAProcessStayApart()
    {
        AssertionMerge::Listings listings;
        listings.logind = { lock(u"sleep"_s, u"Video"_s, u"Playing"_s, 12) };
        listings.desktop = {
            desktop(Registry::gnomeSession, u"org.example.Zebra"_s, u"sleep"_s, u"Z"_s),
            desktop(Registry::kde, u"Alpha Tool"_s, u"sleep"_s, u"A"_s),
            desktop(Registry::xfce, QString(), u"sleep"_s),
            desktop(Registry::kde, u"Alpha Tool"_s, u"sleep"_s, u"B"_s),
            desktop(Registry::kde, QString(), u"sleep"_s, u"Nameless"_s),
        };
        // Zebra has an entry but no process; Alpha Tool has neither.
        listings.applications = {
            { u"org.example.Zebra"_s, { std::nullopt, u"Zebra"_s } },
            { u"Alpha Tool"_s, { std::nullopt, u"Alpha Tool"_s } },
        };
        const QList<ProcessAssertion> expected{
            // Nameless entries come first, each apart, by list and place in it.
            { -4, u"sleep"_s, u"Nameless"_s, std::nullopt },
            { -3, u"sleep"_s, QString(), std::nullopt },
            // Then one pid per name, in the order of the names.
            { -2, u"sleep"_s, u"A"_s, u"Alpha Tool"_s },
            { -2, u"sleep"_s, u"B"_s, u"Alpha Tool"_s },
            { -1, u"sleep"_s, u"Z"_s, u"Zebra"_s },
            { 12, u"sleep"_s, u"Playing"_s, u"Video"_s },
        };
        QCOMPARE(AssertionMerge::merge(listings), expected);

        // An application the lookup did not cover keeps the name it was listed under.
        listings.applications.clear();
        const QList<ProcessAssertion> unresolved = AssertionMerge::merge(listings);
        QCOMPARE(unresolved.size(), expected.size());
        QCOMPARE(unresolved.at(4).reason, u"Z"_s);
        QCOMPARE(unresolved.at(4).processName, u"org.example.Zebra"_s);
    }

    void applicationsAreLookedUpInTheDirectory()
    {
        FakeRunningApplications directory;
        directory.insertEntry({ u"org.example.Player"_s, u"Player"_s, u"player"_s }, { 5300, 5100, 5200 });
        directory.insertEntry({ u"firefox"_s, u"Firefox"_s, u"firefox"_s }, { 7000 });
        directory.insertEntry({ u"org.example.Idle"_s, u"Idle"_s, QString() });
        const QList<DesktopInhibitor> desktopLists{
            desktop(Registry::gnomeSession, u"org.example.Player"_s, u"sleep"_s),
            desktop(Registry::kde, u"Firefox"_s, u"sleep"_s),
            desktop(Registry::gnomeSession, u"org.example.Idle"_s, u"idle"_s),
            desktop(Registry::xfce, u"Unknown Tool"_s, u"sleep"_s),
            desktop(Registry::gnomeSession, u"com.quorvel.WakoraApp"_s, u"sleep"_s),
            desktop(Registry::kde, QString(), u"sleep"_s),
        };
        const QHash<QString, Application> expected{
            // The lowest pid of several.
            { u"org.example.Player"_s, { 5100, u"Player"_s } },
            { u"Firefox"_s, { 7000, u"Firefox"_s } },
            { u"org.example.Idle"_s, { std::nullopt, u"Idle"_s } },
            { u"Unknown Tool"_s, { std::nullopt, u"Unknown Tool"_s } },
        };
        QCOMPARE(AssertionMerge::resolve(desktopLists, directory), expected);
    }
};

QTEST_GUILESS_MAIN(TestAssertionMerge)
#include "tst_assertionmerge.moc"
