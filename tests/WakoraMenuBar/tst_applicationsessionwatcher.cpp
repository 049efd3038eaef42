#include "ApplicationSessionWatcher.h"
#include "FakePowerControl.h"
#include "FakeRunningApplications.h"
#include "PowerController.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// "While an application runs" over the real power controller, an in-memory
// backend and an in-memory application directory; the settings in a
// folder of the test's own.
class TestApplicationSessionWatcher : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    std::shared_ptr<FakePowerControl> control;
    std::shared_ptr<FakeRunningApplications> applications;
    std::unique_ptr<PowerController> power;
    std::unique_ptr<ApplicationSessionWatcher> watcher;

    const DesktopApplication player{ QStringLiteral("org.example.Player"), QStringLiteral("Player"), QString() };
    const DesktopApplication editor{ QStringLiteral("org.example.Editor"), QStringLiteral("Editor"), QString() };

    // The watcher looks by itself only every hour here; the test looks for it.
    std::unique_ptr<ApplicationSessionWatcher> newWatcher()
    {
        return std::make_unique<ApplicationSessionWatcher>(power.get(), applications, std::chrono::hours(1));
    }

    void running(const DesktopApplication &entry, const QList<qint32> &pids) { applications->insertEntry(entry, pids); }

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
        running(player, {});
        running(editor, {});
        power = std::make_unique<PowerController>(control);
        watcher = newWatcher();
    }

    void cleanup()
    {
        watcher.reset();
        power.reset();
    }

    // With no rule nothing wakes the agent; a rule, stored or new, is
    // followed; clearing it stops the looking.
    void theProcessesAreLookedAtOnlyWhileARuleIsSet()
    {
        QVERIFY(!watcher->isWatching());
        QCOMPARE(QCoro::waitFor(watcher->setRule(QStringLiteral("Player"), 1)), std::nullopt);
        QVERIFY(watcher->isWatching());
        QVERIFY(newWatcher()->isWatching()); // the stored rule, at the next start
        QCOMPARE(QCoro::waitFor(watcher->setRule(QString(), 1)), std::nullopt);
        QVERIFY(!watcher->isWatching());
        QVERIFY(!newWatcher()->isWatching());
    }

    void theKindsFollowTheApplication()
    {
        QSignalSpy ended(watcher.get(), &ApplicationSessionWatcher::ended);
        QCOMPARE(QCoro::waitFor(watcher->setRule(QStringLiteral("Player"), 3)), std::nullopt);
        QCOMPARE(watcher->rule().application, player.id); // a name stands for its entry
        QVERIFY(control->activeKinds().isEmpty());

        running(player, { 40, 41 });
        QCoro::waitFor(watcher->check());
        QCOMPARE(control->activeKinds().size(), 2);
        running(player, { 41 }); // one of two processes ends
        QCoro::waitFor(watcher->check());
        QCOMPARE(control->activeKinds().size(), 2);
        running(player, {});
        QCoro::waitFor(watcher->check());
        QVERIFY(control->activeKinds().isEmpty());
        QCOMPARE(ended.count(), 1);
        QVERIFY(ended.first().first().toString().contains(QStringLiteral("Player")));
    }

    void aKindThatWasOnAlreadyStaysOn()
    {
        QVERIFY(QCoro::waitFor(power->setEnabled(true, AssertionKind::systemSleep)));
        QCOMPARE(QCoro::waitFor(watcher->setRule(player.id, 3)), std::nullopt);
        running(player, { 40 });
        QCoro::waitFor(watcher->check());
        running(player, {});
        QCoro::waitFor(watcher->check());
        QVERIFY(power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(!power->isEnabled(AssertionKind::displaySleep));
    }

    void anotherRuleEndsWhatTheOldOneTurnedOn()
    {
        QCOMPARE(QCoro::waitFor(watcher->setRule(player.id, 1)), std::nullopt);
        running(player, { 40 });
        QCoro::waitFor(watcher->check());
        QVERIFY(power->isEnabled(AssertionKind::systemSleep));
        QCOMPARE(QCoro::waitFor(watcher->setRule(editor.id, 1)), std::nullopt);
        QVERIFY(!power->isEnabled(AssertionKind::systemSleep));
        QCOMPARE(QCoro::waitFor(watcher->setRule(QString(), 1)), std::nullopt);
        QVERIFY(watcher->rule().application.isEmpty());
    }

    void badRulesAreRefusedAndTheOldOneStays()
    {
        QCOMPARE(QCoro::waitFor(watcher->setRule(player.id, 1)), std::nullopt);
        QCOMPARE(QCoro::waitFor(watcher->setRule(QStringLiteral("org.example.Missing"), 1)),
            ApplicationSessionWatcher::unknownApplication());
        QCOMPARE(QCoro::waitFor(watcher->setRule(editor.id, 4)), TimedSession::invalidKinds());
        QCOMPARE(watcher->rule().application, player.id);
    }

    void theRuleOutlivesTheWatcher()
    {
        QCOMPARE(QCoro::waitFor(watcher->setRule(editor.id, 3)), std::nullopt);
        watcher = newWatcher();
        QCOMPARE(watcher->rule(), (ApplicationSessionWatcher::Rule{ editor.id, 3 }));
        // Already running when the agent starts: the first look turns it on.
        running(editor, { 7 });
        QCoro::waitFor(watcher->check());
        QCOMPARE(control->activeKinds().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestApplicationSessionWatcher)
#include "tst_applicationsessionwatcher.moc"
