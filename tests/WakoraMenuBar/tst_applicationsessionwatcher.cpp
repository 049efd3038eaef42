#include "ApplicationSessionWatcher.h"
#include "FakeApplicationPresence.h"
#include "FakePowerControl.h"
#include "FakeRunningApplications.h"
#include "PowerController.h"
#include "TimedSession.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// "While an application runs" over the ledger, the real power controller,
// an in-memory backend, an in-memory application directory and presence
// the test sets; the settings in a folder of the test's own.
class TestApplicationSessionWatcher : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    std::shared_ptr<FakePowerControl> control;
    std::shared_ptr<FakeRunningApplications> applications;
    std::shared_ptr<FakeApplicationPresence> presence;
    std::unique_ptr<PowerController> power;
    std::unique_ptr<KeepAwakeLedger> ledger;
    std::unique_ptr<RuleStore> store;
    std::unique_ptr<ApplicationSessionWatcher> watcher;

    const DesktopApplication player{ QStringLiteral("org.example.Player"), QStringLiteral("Player"), QString() };
    const DesktopApplication editor{ QStringLiteral("org.example.Editor"), QStringLiteral("Editor"), QString() };

    // A new agent: the rules as stored, the same processes.
    void restart()
    {
        watcher.reset();
        store = std::make_unique<RuleStore>();
        watcher = std::make_unique<ApplicationSessionWatcher>(ledger.get(), store.get(), applications, presence);
    }

    void running(const DesktopApplication &entry, bool runs) { presence->setRunning(entry.id, runs); }
    bool settled() const { return ledger->isSettled(); }

private Q_SLOTS:
    void initTestCase()
    {
        // Before the first QSettings of this process, which fixes its folder.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }

    void init()
    {
        QSettings(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar")).clear();
        control = std::make_shared<FakePowerControl>();
        applications = std::make_shared<FakeRunningApplications>();
        applications->insertEntry(player);
        applications->insertEntry(editor);
        presence = std::make_shared<FakeApplicationPresence>();
        power = std::make_unique<PowerController>(control);
        ledger = std::make_unique<KeepAwakeLedger>(power.get());
        restart();
    }

    void cleanup()
    {
        watcher.reset();
        ledger.reset();
        power.reset();
    }

    // With no rule nothing is watched; a rule, stored or new, is followed;
    // clearing it stops the watching.
    void theApplicationIsWatchedOnlyWhileARuleIsSet()
    {
        QVERIFY(!watcher->isWatching());
        QCOMPARE(QCoro::waitFor(watcher->setRule(QStringLiteral("Player"), 1)), std::nullopt);
        QCOMPARE(presence->watched(), player.id); // a name stands for its entry
        restart();
        QCOMPARE(presence->watched(), player.id); // the stored rule, at the next start
        QCOMPARE(QCoro::waitFor(watcher->setRule(QString(), 1)), std::nullopt);
        QVERIFY(!watcher->isWatching());
        restart();
        QVERIFY(!watcher->isWatching());
    }

    void theClaimFollowsTheApplication()
    {
        QSignalSpy ended(watcher.get(), &ApplicationSessionWatcher::ended);
        QCOMPARE(QCoro::waitFor(watcher->setRule(QStringLiteral("Player"), 3)), std::nullopt);
        QVERIFY(control->activeKinds().isEmpty());

        running(player, true);
        QTRY_VERIFY(settled());
        QCOMPARE(control->activeKinds().size(), 2);
        QCOMPARE(ledger->claim(Claim::applicationOwner())->subject, player.localizedName);
        running(player, false);
        QTRY_VERIFY(settled());
        QVERIFY(control->activeKinds().isEmpty());
        QCOMPARE(ended.count(), 1);
        QVERIFY(ended.first().first().toString().contains(QStringLiteral("Player")));
    }

    // Only what the claim alone kept on goes off, and only that is announced.
    void whatAnotherClaimAsksForStaysOn()
    {
        QSignalSpy ended(watcher.get(), &ApplicationSessionWatcher::ended);
        QVERIFY(!QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, true)));
        QCOMPARE(QCoro::waitFor(watcher->setRule(player.id, 1)), std::nullopt);
        running(player, true);
        QTRY_VERIFY(settled());
        running(player, false);
        QTRY_VERIFY(settled());
        QVERIFY(power->isEnabled(AssertionKind::systemSleep));
        QCOMPARE(ended.count(), 0);
    }

    void anotherRuleEndsTheOldOnesClaim()
    {
        QCOMPARE(QCoro::waitFor(watcher->setRule(player.id, 1)), std::nullopt);
        running(player, true);
        QTRY_VERIFY(power->isEnabled(AssertionKind::systemSleep));
        QCOMPARE(QCoro::waitFor(watcher->setRule(editor.id, 1)), std::nullopt);
        QTRY_VERIFY(settled());
        QVERIFY(!power->isEnabled(AssertionKind::systemSleep));
        // The new rule's application already runs: its claim starts at once.
        running(editor, true);
        QTRY_VERIFY(power->isEnabled(AssertionKind::systemSleep));
        QCOMPARE(QCoro::waitFor(watcher->setRule(player.id, 1)), std::nullopt);
        QTRY_VERIFY(settled());
        QVERIFY(power->isEnabled(AssertionKind::systemSleep));
        QCOMPARE(QCoro::waitFor(watcher->setRule(QString(), 1)), std::nullopt);
        QTRY_VERIFY(settled());
        QVERIFY(!power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(ledger->claims().isEmpty());
    }

    void badRulesAreRefusedAndTheOldOneStays()
    {
        QCOMPARE(QCoro::waitFor(watcher->setRule(player.id, 1)), std::nullopt);
        QCOMPARE(QCoro::waitFor(watcher->setRule(QStringLiteral("org.example.Missing"), 1)),
            ApplicationSessionWatcher::unknownApplication());
        QCOMPARE(QCoro::waitFor(watcher->setRule(editor.id, 4)), TimedSession::invalidKinds());
        QCOMPARE(watcher->rule().application, player.id);
        QCOMPARE(presence->watched(), player.id);
    }

    void theRuleOutlivesTheAgent()
    {
        QCOMPARE(QCoro::waitFor(watcher->setRule(editor.id, 3)), std::nullopt);
        running(editor, true);
        QTRY_COMPARE(control->activeKinds().size(), 2);
        // A new agent finds it running at its first look.
        QVERIFY(!QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, false)));
        QVERIFY(!QCoro::waitFor(ledger->setSwitch(AssertionKind::displaySleep, false)));
        restart();
        QCOMPARE(watcher->rule(), (ApplicationRule{ editor.id, 3 }));
        QTRY_COMPARE(control->activeKinds().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestApplicationSessionWatcher)
#include "tst_applicationsessionwatcher.moc"
