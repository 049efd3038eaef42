#include "FakePowerControl.h"
#include "PowerController.h"
#include "TriggerKeeper.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A trigger the test drives by hand: it watches between start() and stop()
// and holds whenever the test says so.
class FakeTrigger : public Trigger
{
public:
    FakeTrigger(QString name, qint64 kinds, std::optional<QString> unavailable = std::nullopt)
        : m_name(std::move(name))
        , m_kinds(kinds)
        , m_unavailable(std::move(unavailable))
    { }

    QString name() const override { return m_name; }
    qint64 defaultKinds() const override { return m_kinds; }
    std::optional<QString> unavailable() const override { return m_unavailable; }
    std::optional<QString> invalidOptions(const QVariantMap &options) const override
    {
        if (options.value(QStringLiteral("cpu"), 50).toLongLong() > 100)
            return QStringLiteral("CPU 사용량은 100%를 넘을 수 없습니다.");
        return std::nullopt;
    }
    void start(const QVariantMap &options) override
    {
        ++starts;
        watching = true;
        startedWith = options;
    }
    void stop() override
    {
        ++stops;
        watching = false;
        clearActive();
    }

    // What the trigger watches begins, changes or ends.
    void hold(const QString &subject) { setActive(true, subject); }
    void end() { setActive(false); }

    int starts = 0;
    int stops = 0;
    bool watching = false;
    QVariantMap startedWith;

private:
    QString m_name;
    qint64 m_kinds;
    std::optional<QString> m_unavailable;
};

} // namespace

// The keeper over the ledger, the real power controller on an in-memory
// backend, and triggers the test drives; the rules in a folder of the
// test's own.
class TestTriggerKeeper : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    std::shared_ptr<FakePowerControl> control;
    std::unique_ptr<PowerController> power;
    std::unique_ptr<KeepAwakeLedger> ledger;
    std::unique_ptr<RuleStore> store;
    std::unique_ptr<TriggerKeeper> keeper;
    QPointer<FakeTrigger> media;
    QPointer<FakeTrigger> remote;
    QPointer<FakeTrigger> fullscreen; // cannot work here

    // A new agent: the rules as stored, new triggers.
    void restart()
    {
        keeper.reset();
        store = std::make_unique<RuleStore>();
        media = new FakeTrigger(QStringLiteral("media"), 3);
        remote = new FakeTrigger(QStringLiteral("remote"), 1);
        fullscreen
            = new FakeTrigger(QStringLiteral("fullscreen"), 3, QStringLiteral("이 데스크톱에서는 알 수 없습니다"));
        keeper = std::make_unique<TriggerKeeper>(
            ledger.get(), store.get(), QList<Trigger *>{ media.data(), remote.data(), fullscreen.data() });
    }

    std::optional<QString> set(const QString &name, bool enabled, qint64 kinds = 0, QVariantMap options = {})
    {
        return QCoro::waitFor(keeper->setRule(name, TriggerRule{ enabled, kinds, std::move(options) }));
    }
    std::optional<Claim> claimOf(const QString &name) const { return ledger->claim(Claim::triggerOwner(name)); }
    bool settled() const { return ledger->isSettled(); }
    bool held(AssertionKind kind) const { return power->isEnabled(kind); }

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
        power = std::make_unique<PowerController>(control);
        ledger = std::make_unique<KeepAwakeLedger>(power.get());
        restart();
    }

    void cleanup()
    {
        keeper.reset();
        ledger.reset();
        power.reset();
    }

    // Off by default, nothing watches; a rule on starts its trigger alone,
    // with its options, and a rule off stops it.
    void aTriggerWatchesOnlyWhileItsRuleIsOn()
    {
        QCOMPARE(media->starts, 0);
        QVERIFY(!keeper->hasStandingRule());
        const QVariantMap options{ { QStringLiteral("cpu"), 70 } };
        QCOMPARE(set(QStringLiteral("remote"), true, 0, options), std::nullopt);
        QVERIFY(remote->watching);
        QCOMPARE(remote->startedWith.value(QStringLiteral("cpu")).toLongLong(), 70);
        QVERIFY(!media->watching);
        QVERIFY(keeper->hasStandingRule());

        // New options while it watches: it follows them.
        QCOMPARE(set(QStringLiteral("remote"), true, 0, { { QStringLiteral("cpu"), 80 } }), std::nullopt);
        QCOMPARE(remote->starts, 2);
        QCOMPARE(remote->startedWith.value(QStringLiteral("cpu")).toLongLong(), 80);

        // The next agent starts it from the stored rule.
        restart();
        QVERIFY(remote->watching);
        QCOMPARE(remote->startedWith.value(QStringLiteral("cpu")).toLongLong(), 80);

        QCOMPARE(set(QStringLiteral("remote"), false), std::nullopt);
        QVERIFY(!remote->watching);
        QCOMPARE(remote->stops, 1);
        QVERIFY(!keeper->hasStandingRule());
    }

    // While the trigger holds, its claim asks for its kinds, about its subject.
    void theClaimFollowsTheActivity()
    {
        QCOMPARE(set(QStringLiteral("media"), true), std::nullopt);
        QVERIFY(!claimOf(QStringLiteral("media")));
        media->hold(QStringLiteral("mpv"));
        QTRY_VERIFY(settled());
        QCOMPARE(claimOf(QStringLiteral("media"))->kinds, 3); // the trigger's own kinds
        QCOMPARE(claimOf(QStringLiteral("media"))->subject, QStringLiteral("mpv"));
        QVERIFY(held(AssertionKind::systemSleep) && held(AssertionKind::displaySleep));

        // Another player: the same claim says so.
        media->hold(QStringLiteral("Rhythmbox"));
        QTRY_VERIFY(settled());
        QCOMPARE(claimOf(QStringLiteral("media"))->subject, QStringLiteral("Rhythmbox"));
        QCOMPARE(ledger->claims().size(), 1);

        media->end();
        QTRY_VERIFY(settled());
        QVERIFY(!claimOf(QStringLiteral("media")));
        QVERIFY(!held(AssertionKind::systemSleep) && !held(AssertionKind::displaySleep));
    }

    // The rule's kinds over the trigger's own; a change of them while it
    // holds is a new claim of the new kinds.
    void theRulesKindsDecide()
    {
        QCOMPARE(set(QStringLiteral("media"), true, 1), std::nullopt);
        media->hold(QStringLiteral("mpv"));
        QTRY_VERIFY(settled());
        QCOMPARE(claimOf(QStringLiteral("media"))->kinds, 1);
        QVERIFY(!held(AssertionKind::displaySleep));
        QCOMPARE(set(QStringLiteral("media"), true, 3), std::nullopt);
        QTRY_VERIFY(settled());
        QCOMPARE(claimOf(QStringLiteral("media"))->kinds, 3);
        QVERIFY(held(AssertionKind::displaySleep));
        QCOMPARE(keeper->kinds(QStringLiteral("media")), 3);
    }

    // A condition in force holds the claim off; the claim stays, and is
    // held once the condition holds again.
    void aVetoHoldsTheClaimOffUntilItLifts()
    {
        QCOMPARE(set(QStringLiteral("remote"), true), std::nullopt);
        QCoro::waitFor(ledger->setVeto(QStringLiteral("배터리로 동작 중이라 꺼 둠")));
        remote->hold(QStringLiteral("ana@10.0.0.5"));
        QTRY_VERIFY(settled());
        QVERIFY(claimOf(QStringLiteral("remote")));
        QVERIFY(!held(AssertionKind::systemSleep));
        QCoro::waitFor(ledger->setVeto(std::nullopt));
        QTRY_VERIFY(settled());
        QVERIFY(held(AssertionKind::systemSleep));
        QCOMPARE(claimOf(QStringLiteral("remote"))->subject, QStringLiteral("ana@10.0.0.5"));
    }

    // The user switching the kind off ends the claim for this activation:
    // a new subject does not bring it back, the next activation does.
    void switchingOffEndsTheClaimUntilTheNextActivation()
    {
        QCOMPARE(set(QStringLiteral("remote"), true), std::nullopt);
        remote->hold(QStringLiteral("ana@host"));
        QTRY_VERIFY(held(AssertionKind::systemSleep));
        QCOMPARE(QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, false)), std::nullopt);
        QTRY_VERIFY(settled());
        QVERIFY(!claimOf(QStringLiteral("remote")));
        QVERIFY(!held(AssertionKind::systemSleep));

        remote->hold(QStringLiteral("bo@host"));
        QTest::qWait(20);
        QVERIFY(!claimOf(QStringLiteral("remote")));
        QVERIFY(!held(AssertionKind::systemSleep));

        remote->end();
        remote->hold(QStringLiteral("bo@host"));
        QTRY_VERIFY(settled());
        QVERIFY(held(AssertionKind::systemSleep));
        QCOMPARE(claimOf(QStringLiteral("remote"))->subject, QStringLiteral("bo@host"));
    }

    // Only the display switched off: the system's part stays, and follows the subject.
    void whatTheUserLeftOfTheClaimStays()
    {
        QCOMPARE(set(QStringLiteral("media"), true), std::nullopt);
        media->hold(QStringLiteral("mpv"));
        QTRY_VERIFY(held(AssertionKind::displaySleep));
        QCOMPARE(QCoro::waitFor(ledger->setSwitch(AssertionKind::displaySleep, false)), std::nullopt);
        QTRY_VERIFY(settled());
        QCOMPARE(claimOf(QStringLiteral("media"))->kinds, 1);
        media->hold(QStringLiteral("vlc"));
        QTRY_VERIFY(settled());
        QCOMPARE(claimOf(QStringLiteral("media"))->kinds, 1);
        QCOMPARE(claimOf(QStringLiteral("media"))->subject, QStringLiteral("vlc"));
        QVERIFY(!held(AssertionKind::displaySleep));
    }

    // Switched off while it holds: the trigger stops and its claim goes,
    // leaving what other claims ask for.
    void ruleOffStopsTheTriggerAndWithdrawsItsClaim()
    {
        QVERIFY(!QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, true)));
        QCOMPARE(set(QStringLiteral("media"), true), std::nullopt);
        media->hold(QStringLiteral("mpv"));
        QTRY_VERIFY(held(AssertionKind::displaySleep));
        QCOMPARE(set(QStringLiteral("media"), false), std::nullopt);
        QTRY_VERIFY(settled());
        QVERIFY(!media->watching);
        QVERIFY(!claimOf(QStringLiteral("media")));
        QVERIFY(!held(AssertionKind::displaySleep));
        QVERIFY(held(AssertionKind::systemSleep)); // the switch's own
    }

    // A trigger that cannot work here keeps its rule, and never starts.
    void anUnavailableTriggerNeverStarts()
    {
        QCOMPARE(set(QStringLiteral("fullscreen"), true), std::nullopt);
        QVERIFY(store->triggerRule(QStringLiteral("fullscreen")).enabled);
        restart();
        QCOMPARE(fullscreen->starts, 0);
        QVERIFY(!keeper->hasStandingRule());
        QVERIFY(ledger->claims().isEmpty());
    }

    void badRulesAreRefusedAndTheOldOneStays()
    {
        QCOMPARE(set(QStringLiteral("remote"), true), std::nullopt);
        QCOMPARE(set(QStringLiteral("bluetooth"), true), TriggerKeeper::unknownTrigger());
        QCOMPARE(set(QStringLiteral("remote"), true, 4), QStringLiteral("Invalid kinds"));
        QCOMPARE(set(QStringLiteral("remote"), false, 0, { { QStringLiteral("cpu"), 150 } }),
            QStringLiteral("CPU 사용량은 100%를 넘을 수 없습니다."));
        QCOMPARE(set(QStringLiteral("remote"), true, 0, { { QStringLiteral("a/b"), 1 } }),
            QStringLiteral("Invalid options"));
        QCOMPARE(
            set(QStringLiteral("remote"), true, 0, { { QStringLiteral("list"), QStringList{ QStringLiteral("a") } } }),
            QStringLiteral("Invalid options"));
        QCOMPARE(store->triggerRule(QStringLiteral("remote")), (TriggerRule{ true, 0, {} }));
        QVERIFY(remote->watching);
    }

    // What is stored reads back as it was set, numbers as numbers; what
    // makes no sense in the file reads as the default.
    void theStoreKeepsRulesAndForgetsNonsense()
    {
        const TriggerRule busy{ true, 3,
            { { QStringLiteral("net"), qint64(250000) }, { QStringLiteral("settle"), qint64(90) },
                { QStringLiteral("schedule"), QStringLiteral("mon-fri 09:00-18:00") } } };
        QCOMPARE(QCoro::waitFor(store->setTriggerRule(QStringLiteral("busy"), busy)), std::nullopt);
        QCOMPARE(store->triggerRule(QStringLiteral("busy")), busy);
        QCOMPARE(RuleStore().triggerRule(QStringLiteral("busy")), busy);
        // Fewer options replace the old ones, not add to them.
        const TriggerRule fewer{ false, 0, { { QStringLiteral("cpu"), qint64(20) } } };
        QCOMPARE(QCoro::waitFor(store->setTriggerRule(QStringLiteral("busy"), fewer)), std::nullopt);
        QCOMPARE(RuleStore().triggerRule(QStringLiteral("busy")), fewer);

        {
            QSettings file(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar"));
            file.setValue(QStringLiteral("trigger/media/enabled"), QStringLiteral("perhaps"));
            file.setValue(QStringLiteral("trigger/media/kinds"), QStringLiteral("7"));
            file.setValue(QStringLiteral("trigger/remote/enabled"), true);
            file.setValue(QStringLiteral("trigger/remote/kinds"), QStringLiteral("many"));
            file.setValue(QStringLiteral("trigger/Bad Name/enabled"), true);
        }
        const RuleStore read;
        QCOMPARE(read.triggerRule(QStringLiteral("media")), TriggerRule{});
        QCOMPARE(read.triggerRule(QStringLiteral("remote")), (TriggerRule{ true, 0, {} }));
        QCOMPARE(read.triggerRule(QStringLiteral("Bad Name")), TriggerRule{});
        QCOMPARE(read.triggerRule(QStringLiteral("nothing")), TriggerRule{});
    }

    // Options the trigger refuses, spoilt in the file, start it with its own defaults.
    void spoiltOptionsStartTheTriggerWithItsDefaults()
    {
        {
            QSettings file(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar"));
            file.setValue(QStringLiteral("trigger/remote/enabled"), true);
            file.setValue(QStringLiteral("trigger/remote/options/cpu"), 900);
        }
        restart();
        QVERIFY(remote->watching);
        QVERIFY(remote->startedWith.isEmpty());
    }

    // Clients hear of rules and activity alike.
    void changesAreAnnounced()
    {
        QSignalSpy changed(keeper.get(), &TriggerKeeper::changed);
        QCOMPARE(set(QStringLiteral("remote"), true), std::nullopt);
        QVERIFY(!changed.isEmpty());
        changed.clear();
        remote->hold(QStringLiteral("ana@host"));
        QVERIFY(!changed.isEmpty());
        changed.clear();
        remote->end();
        QVERIFY(!changed.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTriggerKeeper)
#include "tst_triggerkeeper.moc"
