#include "ClamshellController.h"
#include "ClamshellPresentation.h"
#include "DesktopLidSettings.h"
#include "ScriptedClamshellService.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QTest>

class TestClamshellController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void presentation_data()
    {
        QTest::addColumn<ClamshellApproval>("approval");
        QTest::addColumn<ClamshellActivation>("activation");
        QTest::addColumn<bool>("isOn");
        QTest::addColumn<bool>("isEnabled");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<bool>("settingsButton");
        QTest::addColumn<bool>("warning");

        const QString outside = QStringLiteral("시스템에서 이미 켜져 있습니다. 이 앱은 이 설정을 변경하지 않습니다.");
        const QString approve
            = QStringLiteral("이 기능을 사용하려면 시스템 설정의 로그인 항목에서 Wakora를 허용해야 합니다.");
        using A = ClamshellApproval;
        using C = ClamshellActivation;
        QTest::newRow("enabled, off") << A::enabled << C::off << false << true << QString() << false << false;
        QTest::newRow("enabled, ours") << A::enabled << C::ownedByApp << true << true << QString() << false << true;
        QTest::newRow("enabled, outside") << A::enabled << C::onOutsideApp << true << false << outside << false << true;
        QTest::newRow("approval, off") << A::requiresApproval << C::off << false << false << approve << true << false;
        QTest::newRow("approval, ours") << A::requiresApproval << C::ownedByApp << true << false << approve << true
                                        << true;
        QTest::newRow("approval, outside")
            << A::requiresApproval << C::onOutsideApp << true << false << approve << true << true;
        QTest::newRow("unregistered, off")
            << A::notRegistered << C::off << false << true << QString() << false << false;
        QTest::newRow("unregistered, ours")
            << A::notRegistered << C::ownedByApp << true << true << QString() << false << true;
        QTest::newRow("not found, off") << A::notFound << C::off << false << true << QString() << false << false;
        QTest::newRow("not found, outside")
            << A::notFound << C::onOutsideApp << true << true << QString() << false << true;
    }

    void presentation()
    {
        QFETCH(ClamshellApproval, approval);
        QFETCH(ClamshellActivation, activation);
        QFETCH(QString, notice);
        const auto shown = ClamshellPresentation::of({ approval, activation });
        QTEST(shown.isOn, "isOn");
        QTEST(shown.isEnabled, "isEnabled");
        QCOMPARE(shown.notice.value_or(QString()), notice);
        QCOMPARE(shown.notice.has_value(), !notice.isEmpty());
        QTEST(shown.showsSettingsButton, "settingsButton");
        QTEST(shown.showsWarning, "warning");
    }

    void onPlasmaTheDesktopDecidesTheLid_data()
    {
        QTest::addColumn<ClamshellActivation>("activation");
        QTest::addColumn<bool>("isOn");
        QTest::newRow("off: nothing to switch") << ClamshellActivation::off << false;
        QTest::newRow("left on: can still be turned off") << ClamshellActivation::ownedByApp << true;
    }

    void onPlasmaTheDesktopDecidesTheLid()
    {
        QFETCH(ClamshellActivation, activation);
        QFETCH(bool, isOn);
        // Whatever the helper says, the switch never claims the mode works there.
        for (const ClamshellApproval approval : { ClamshellApproval::enabled, ClamshellApproval::notFound }) {
            const auto shown = ClamshellPresentation::of({ approval, activation }, true);
            QCOMPARE(shown.isOn, isOn);
            QCOMPARE(shown.isEnabled, isOn);
            QCOMPARE(shown.notice, std::optional<QString>(desktopLidNoticeText()));
            QVERIFY(shown.showsSettingsButton);
            QVERIFY(shown.opensDesktopSettings);
            QVERIFY(!shown.showsWarning);
        }
        QVERIFY(!ClamshellPresentation::of({ ClamshellApproval::requiresApproval, activation }).opensDesktopSettings);
    }

    void whichDesktopsDecideTheLid()
    {
        QVERIFY(DesktopLidSettings::desktopDecidesLid(QStringLiteral("KDE")));
        QVERIFY(DesktopLidSettings::desktopDecidesLid(QStringLiteral("X-Custom:kde")));
        QVERIFY(!DesktopLidSettings::desktopDecidesLid(QStringLiteral("ubuntu:GNOME")));
        QVERIFY(!DesktopLidSettings::desktopDecidesLid(QStringLiteral("XFCE")));
        QVERIFY(!DesktopLidSettings::desktopDecidesLid(QString()));
        QVERIFY(!DesktopLidSettings::desktopDecidesLid(QStringLiteral("KDEish")));
    }

    void aPowerManagerHoldingTheLidIsFoundInLogindsList()
    {
        const auto lock = [](QString what, QString who, QString mode) {
            return LogindInhibitor{ what, who, QStringLiteral("handles it"), mode, 1000, 42 };
        };
        const LogindInhibitor xfce = lock(QStringLiteral("handle-power-key:handle-suspend-key:handle-lid-switch"),
            QStringLiteral("xfce4-power-manager"), QStringLiteral("block"));
        QCOMPARE(DesktopLidSettings::lidHandler({ xfce }), QStringLiteral("xfce4-power-manager"));
        // A delay lock, a lock on other keys, or one of a program that only
        // holds the lid off (GNOME with an external display) decide nothing.
        QCOMPARE(DesktopLidSettings::lidHandler({ lock(QStringLiteral("handle-lid-switch"),
                     QStringLiteral("xfce4-power-manager"), QStringLiteral("delay")) }),
            QString());
        QCOMPARE(DesktopLidSettings::lidHandler({ lock(QStringLiteral("handle-power-key:handle-lid-switch-docked"),
                     QStringLiteral("PowerDevil"), QStringLiteral("block")) }),
            QString());
        QCOMPARE(DesktopLidSettings::lidHandler({ lock(QStringLiteral("handle-lid-switch"),
                     QStringLiteral("GNOME Settings Daemon"), QStringLiteral("block")) }),
            QString());
        QCOMPARE(
            DesktopLidSettings::lidHandler(
                { lock(QStringLiteral("sleep"), QStringLiteral("Wakora"), QStringLiteral("block")),
                    lock(QStringLiteral("handle-lid-switch"), QStringLiteral("PowerDevil"), QStringLiteral("block")) }),
            QStringLiteral("PowerDevil"));

        // Xfce's says so in its own words, and names Xfce's settings; PowerDevil's is Plasma's.
        const auto shown = ClamshellPresentation::of(
            { ClamshellApproval::enabled, ClamshellActivation::off }, false, QStringLiteral("xfce4-power-manager"));
        QVERIFY(!shown.isOn);
        QVERIFY(!shown.isEnabled);
        QVERIFY(shown.opensDesktopSettings);
        QCOMPARE(shown.settingsName, QStringLiteral("Xfce"));
        QVERIFY(shown.notice->contains(QStringLiteral("Xfce 전원 관리자")));
        QCOMPARE(ClamshellPresentation::of({ ClamshellApproval::enabled, ClamshellActivation::ownedByApp }, false,
                     QStringLiteral("PowerDevil"))
                     .notice,
            std::optional<QString>(desktopLidNoticeText()));
    }

    void eachRefreshAsksWhoRunsTheLid()
    {
        auto service = std::make_shared<ScriptedClamshellService>();
        ClamshellController controller(service, false);
        QString handler = QStringLiteral("xfce4-power-manager");
        int asked = 0;
        controller.setLidHandlerLookup([&handler, &asked]() -> QCoro::Task<QString> {
            ++asked;
            co_return handler;
        });
        QTRY_COMPARE(controller.lidHandler(), QStringLiteral("xfce4-power-manager"));
        QVERIFY(controller.presentation().opensDesktopSettings);
        // The power manager was told to leave the lid to logind.
        handler.clear();
        const int before = asked;
        controller.refresh();
        QTRY_VERIFY(asked > before);
        QTRY_VERIFY(controller.lidHandler().isEmpty());
        QCOMPARE(controller.presentation(), ClamshellPresentation::of(controller.state()));
    }

    void theControllerPresentsForItsDesktop()
    {
        auto service = std::make_shared<ScriptedClamshellService>();
        ClamshellController plasma(service, true);
        ClamshellController other(service, false);
        QSignalSpy changes(&plasma, &ClamshellController::didChange);
        QVERIFY(changes.wait(1000));
        QVERIFY(plasma.presentation().opensDesktopSettings);
        QVERIFY(!other.presentation().opensDesktopSettings);
        QCOMPARE(other.presentation(), ClamshellPresentation::of(other.state()));
        other.openSettings(); // the helper's approval, as before
        QCOMPARE(service->opened, 1);
    }

    void warningText()
    {
        QCOMPARE(clamshellWarningText(),
            QStringLiteral("덮개를 닫아도 Mac이 잠들지 않습니다. 가방에 넣으면 과열되거나 배터리가 빠르게 "
                           "소모될 수 있습니다."));
    }

    void activationRawValues()
    {
        QCOMPARE(clamshellActivationFromRaw(2), ClamshellActivation::onOutsideApp);
        QVERIFY(!clamshellActivationFromRaw(3));
        QVERIFY(!clamshellActivationFromRaw(-1));
    }

    void startsUnregisteredUntilTheFirstRefresh()
    {
        auto service = std::make_shared<ScriptedClamshellService>();
        ClamshellController controller(service);
        QSignalSpy changes(&controller, &ClamshellController::didChange);
        QCOMPARE(controller.state(), (ClamshellState{ ClamshellApproval::notRegistered, ClamshellActivation::off }));
        QVERIFY(changes.wait(1000));
        QCOMPARE(controller.state(), service->current);
        QVERIFY(!controller.lastError());
    }

    void lostConnectionRefreshes()
    {
        auto service = std::make_shared<ScriptedClamshellService>();
        ClamshellController controller(service);
        QSignalSpy changes(&controller, &ClamshellController::didChange);
        QVERIFY(changes.wait(1000));

        service->current.activation = ClamshellActivation::onOutsideApp;
        QVERIFY(service->onConnectionLost);
        service->onConnectionLost();
        QVERIFY(changes.wait(1000));
        QCOMPARE(controller.state().activation, ClamshellActivation::onOutsideApp);
    }

    void theServiceOutlivesItsController()
    {
        auto service = std::make_shared<ScriptedClamshellService>();
        {
            ClamshellController controller(service);
        }
        QVERIFY(!service->onConnectionLost);
        QTest::qWait(10); // the queued first refresh must not touch the dead controller
        QCOMPARE(service->stateQueries, 0);
    }

    void successfulSwitchClearsTheLastError()
    {
        auto service = std::make_shared<ScriptedClamshellService>();
        ClamshellController controller(service);
        QSignalSpy changes(&controller, &ClamshellController::didChange);
        QVERIFY(changes.wait(1000));

        service->failure = QStringLiteral("헬퍼가 응답하지 않습니다.");
        QVERIFY(QCoro::waitFor(controller.setEnabledAwaiting(true)));
        QVERIFY(controller.lastError());

        service->failure.reset();
        changes.clear();
        QCOMPARE(QCoro::waitFor(controller.setEnabledAwaiting(true)), std::nullopt);
        QCOMPARE(controller.state(), (ClamshellState{ ClamshellApproval::enabled, ClamshellActivation::ownedByApp }));
        QVERIFY(!controller.lastError());
        QCOMPARE(changes.count(), 1);
    }

    void failedSwitchSnapsBackToTheRealState()
    {
        auto service = std::make_shared<ScriptedClamshellService>();
        ClamshellController controller(service);
        QSignalSpy changes(&controller, &ClamshellController::didChange);
        QVERIFY(changes.wait(1000));

        service->failure = QStringLiteral("헬퍼가 응답하지 않습니다.");
        service->current = { ClamshellApproval::notRegistered, ClamshellActivation::off };
        const int queriesBefore = service->stateQueries;
        changes.clear();
        const auto message = QCoro::waitFor(controller.setEnabledAwaiting(true));
        QCOMPARE(message,
            std::optional<QString>(QStringLiteral("덮개 설정을 변경하지 못했습니다. (헬퍼가 응답하지 않습니다.)")));
        QCOMPARE(controller.lastError(), message);
        QCOMPARE(controller.state(), service->current);
        QCOMPARE(service->stateQueries, queriesBefore + 1);
        QCOMPARE(changes.count(), 1);
    }
};

QTEST_MAIN(TestClamshellController)
#include "tst_clamshellcontroller.moc"
