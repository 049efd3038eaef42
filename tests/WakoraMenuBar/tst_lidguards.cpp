#include "ClamshellController.h"
#include "LidGuards.h"
#include "RuleStore.h"
#include "ScriptedClamshellService.h"

#include <QCoroTask>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

// A thermal source the test heats and cools; it counts its reads, which
// run off the main thread.
class FakeThermal : public ThermalReading
{
public:
    std::optional<HotZone> hotZone() override
    {
        ++reads;
        std::lock_guard lock(mutex);
        return hot;
    }
    void setHot(std::optional<HotZone> zone)
    {
        std::lock_guard lock(mutex);
        hot = std::move(zone);
    }
    std::atomic<int> reads = 0;

private:
    std::mutex mutex;
    std::optional<HotZone> hot;
};

// The guards over a scripted lid-closed service, with minutes of 20 ms
// and a thermal interval of 20 ms, so that nothing waits for real time.
class TestLidGuards : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    std::shared_ptr<ScriptedClamshellService> service;
    std::shared_ptr<FakeThermal> thermal;
    std::unique_ptr<ClamshellController> clamshell;
    std::unique_ptr<RuleStore> store;
    std::unique_ptr<LidGuards> guards;
    std::unique_ptr<QSignalSpy> gaveBack;

    static SessionRules::PowerSource battery(std::optional<double> percent = 80) { return { true, percent }; }

    void turnOn()
    {
        QVERIFY(!QCoro::waitFor(clamshell->setEnabledAwaiting(true)));
        QCOMPARE(clamshell->state().activation, ClamshellActivation::ownedByApp);
    }

    void setGuards(LidGuardRules rules) { QVERIFY(!QCoro::waitFor(guards->setRules(rules))); }
    void setConditions(SessionRules rules) { QVERIFY(!QCoro::waitFor(store->setConditions(rules))); }

    // Given back by the guards, not by the test: the service's one "off" after the test's "on".
    int givenBack() const { return service->switchRequests - 1; }

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path())); }

    void init()
    {
        QSettings(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar")).clear();
        service = std::make_shared<ScriptedClamshellService>();
        thermal = std::make_shared<FakeThermal>();
        clamshell = std::make_unique<ClamshellController>(service, false);
        store = std::make_unique<RuleStore>();
        guards = std::make_unique<LidGuards>(clamshell.get(), store.get(), thermal,
            LidGuards::Options{ std::chrono::milliseconds(20), std::chrono::milliseconds(20) });
        gaveBack = std::make_unique<QSignalSpy>(guards.get(), &LidGuards::gaveBack);
        QTRY_VERIFY(service->stateQueries > 0);
    }

    void cleanup()
    {
        gaveBack.reset();
        guards.reset();
        store.reset();
        clamshell.reset();
    }

    void defaultsAreStoredAndOutliveTheAgent()
    {
        QCOMPARE(guards->rules(), (LidGuardRules{ true, 10, true }));
        setGuards({ false, 45, false });
        store = std::make_unique<RuleStore>();
        QCOMPARE(store->lidGuards(), (LidGuardRules{ false, 45, false }));
        QCOMPARE(QCoro::waitFor(store->setLidGuards({ true, 241, true })), LidGuardRules::invalidBagMinutes());
        QCOMPARE(store->lidGuards(), (LidGuardRules{ false, 45, false }));
        // A hand-edited value that makes no sense is the default, not a wrong guard.
        QSettings(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar"))
            .setValue(LidGuardRules::bagMinutesKey(), QStringLiteral("soon"));
        QCOMPARE(RuleStore().lidGuards().bagMinutes, 10);
    }

    void aBrokenPowerConditionGivesTheModeBackOnceAndSaysWhy()
    {
        setConditions({ true, 0 });
        turnOn();
        QVERIFY(!guards->refusal());
        guards->setSource(battery());
        QTRY_COMPARE(gaveBack->size(), 1);
        QCOMPARE(gaveBack->first().first().toString(), QStringLiteral("전원 어댑터가 분리되었습니다."));
        QCOMPARE(clamshell->state().activation, ClamshellActivation::off);
        QCOMPARE(givenBack(), 1);
        // While it stays broken, turning on is refused in the same words, and
        // a mode turned on anyway (from the tray) is given back again.
        QCOMPARE(guards->refusal(), QStringLiteral("전원 어댑터가 분리되었습니다."));
        QVERIFY(!QCoro::waitFor(clamshell->setEnabledAwaiting(true)));
        QTRY_COMPARE(gaveBack->size(), 2);
        QTest::qWait(100);
        QCOMPARE(service->switchRequests, 4); // on, back, on, back
        QCOMPARE(clamshell->state().activation, ClamshellActivation::off);
    }

    void theBatteryFloorAppliesAndTheGuardCanBeTurnedOff()
    {
        setConditions({ false, 20 });
        setGuards({ false, 0, false });
        turnOn();
        guards->setSource(battery(15));
        QTest::qWait(100);
        QCOMPARE(gaveBack->size(), 0);
        QVERIFY(!guards->refusal());
        // Turned on again, the guard finds the floor broken at once.
        setGuards({ true, 0, false });
        QTRY_COMPARE(gaveBack->size(), 1);
        QCOMPARE(gaveBack->first().first().toString(), QStringLiteral("배터리가 20% 아래로 내려갔습니다."));
    }

    void aModeTurnedOnOutsideWakoraIsNeverGivenBack()
    {
        setConditions({ true, 0 });
        service->current.activation = ClamshellActivation::onOutsideApp;
        clamshell->refresh();
        QTRY_COMPARE(clamshell->state().activation, ClamshellActivation::onOutsideApp);
        guards->setSource(battery());
        guards->setLid(true, false);
        thermal->setHot(HotZone{ QStringLiteral("thermal_zone0"), QStringLiteral("acpitz"), 95, 90 });
        QTest::qWait(150);
        QCOMPARE(service->switchRequests, 0);
        QVERIFY(!guards->bagTimerRuns());
        QVERIFY(!guards->readsTemperatures());
        QCOMPARE(thermal->reads.load(), 0);
    }

    void theBagTimerRunsOnlyWhileItsConditionHolds()
    {
        setGuards({ true, 5, false }); // 5 "minutes" of 20 ms
        guards->setLid(true, false);
        guards->setSource(battery());
        QVERIFY(!guards->bagTimerRuns()); // the mode is off: nothing runs
        turnOn();
        QVERIFY(guards->bagTimerRuns());
        // An external display, or mains power, or an opened lid stop it.
        guards->setLid(true, true);
        QVERIFY(!guards->bagTimerRuns());
        guards->setLid(true, false);
        guards->setSource({ false, 80 });
        QVERIFY(!guards->bagTimerRuns());
        guards->setSource(battery());
        guards->setLid(false, false);
        QVERIFY(!guards->bagTimerRuns());
        QTest::qWait(200);
        QCOMPARE(gaveBack->size(), 0);

        guards->setLid(true, false);
        QVERIFY(guards->bagTimerRuns());
        QTRY_COMPARE(gaveBack->size(), 1);
        QCOMPARE(gaveBack->first().first().toString(), LidGuardRules::bagReason(5));
        QCOMPARE(givenBack(), 1);
        QVERIFY(!guards->bagTimerRuns());
        QTest::qWait(150);
        QCOMPARE(givenBack(), 1);
    }

    void temperaturesAreReadOnlyWithTheLidClosedAndAHotZoneGivesTheModeBack()
    {
        setGuards({ true, 0, true });
        turnOn();
        QTest::qWait(100);
        QCOMPARE(thermal->reads.load(), 0); // lid open
        guards->setLid(true, false);
        QVERIFY(guards->readsTemperatures());
        QTRY_VERIFY(thermal->reads.load() >= 3); // at once, then at the interval
        QCOMPARE(gaveBack->size(), 0);
        guards->setLid(false, false);
        QVERIFY(!guards->readsTemperatures());
        QTest::qWait(50);
        const int readsWhileOpen = thermal->reads.load();
        QTest::qWait(100);
        QCOMPARE(thermal->reads.load(), readsWhileOpen);

        thermal->setHot(HotZone{ QStringLiteral("thermal_zone1"), QStringLiteral("x86_pkg_temp"), 96.5, 95 });
        guards->setLid(true, false);
        QTRY_COMPARE(gaveBack->size(), 1);
        QVERIFY(gaveBack->first().first().toString().contains(QStringLiteral("x86_pkg_temp")));
        QVERIFY(gaveBack->first().first().toString().contains(QStringLiteral("96.5")));
        QCOMPARE(givenBack(), 1);
        QVERIFY(!guards->readsTemperatures());
        const int readsAfter = thermal->reads.load();
        QTest::qWait(100);
        QCOMPARE(thermal->reads.load(), readsAfter);
    }

    void aRefusedGiveBackIsNotAnnounced()
    {
        setConditions({ true, 0 });
        turnOn();
        service->failure = QStringLiteral("헬퍼가 응답하지 않습니다.");
        guards->setSource(battery());
        QTRY_COMPARE(service->switchRequests, 2);
        // Not tried again and again on the controller's own re-read.
        QTest::qWait(100);
        QCOMPARE(service->switchRequests, 2);
        QCOMPARE(gaveBack->size(), 0);
        QVERIFY(clamshell->lastError()->contains(QStringLiteral("헬퍼가 응답하지 않습니다.")));
        // The next change of what the guards see tries again, and that one is said.
        service->failure.reset();
        guards->setSource(battery(70));
        QTRY_COMPARE(gaveBack->size(), 1);
        QCOMPARE(clamshell->state().activation, ClamshellActivation::off);
    }
};

QTEST_GUILESS_MAIN(TestLidGuards)
#include "tst_lidguards.moc"
