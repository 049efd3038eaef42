#include "AppDelegate.h"
#include "ClamshellController.h"
#include "FakePowerControl.h"
#include "FixtureMode.h"
#include "MainViewController.h"
#include "MainWindowController.h"
#include "PowerToggling.h"
#include "StatusPanelModel.h"
#include "ToggleSwitch.h"
#include "UITestClamshellService.h"
#include "UITestPowerStatus.h"
#include "UpdateChecker.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include <memory>

// The main application's start-up in its fixture mode: no agent, no bus.
class TestAppDelegate : public QObject
{
    Q_OBJECT

    static std::unique_ptr<AppDelegate> launch(QStringList extra)
    {
        extra.prepend(QStringLiteral("--ui-testing"));
        extra.prepend(QStringLiteral("Wakora"));
        auto delegate = std::make_unique<AppDelegate>(extra);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    template <typename T> static T *find(AppDelegate &delegate, const QString &identifier)
    {
        return delegate.mainWindowController()->findChild<T *>(identifier);
    }

    static QStringList texts(const QList<QAction *> &actions)
    {
        QStringList names;
        for (const QAction *action : actions)
            names << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return names;
    }

private Q_SLOTS:
    void argumentsChooseTheFixtures()
    {
        QVERIFY(!FixtureMode::fromArguments({ QStringLiteral("--menubar-off") }));
        const auto plain = FixtureMode::fromArguments({ QStringLiteral("--ui-testing") });
        QVERIFY(plain);
        QVERIFY(!plain->offline);
        QCOMPARE(plain->status, FixtureMode::Status::sample);
        QCOMPARE(plain->clamshell, (ClamshellState{ ClamshellApproval::notRegistered, ClamshellActivation::off }));
        QCOMPARE(plain->history, FixtureMode::History::sample);

        const auto all = FixtureMode::fromArguments({ QStringLiteral("--ui-testing"), QStringLiteral("--menubar-off"),
            QStringLiteral("--status-flaky"), QStringLiteral("--clamshell-system"), QStringLiteral("--screenshots") });
        QVERIFY(all->offline);
        QCOMPARE(all->status, FixtureMode::Status::flaky);
        QCOMPARE(all->clamshell, (ClamshellState{ ClamshellApproval::enabled, ClamshellActivation::onOutsideApp }));
        QCOMPARE(all->history, FixtureMode::History::screenshots);
        QCOMPARE(FixtureMode::fromArguments({ QStringLiteral("--ui-testing"), QStringLiteral("--clamshell-approval") })
                     ->clamshell.approval,
            ClamshellApproval::requiresApproval);
        QCOMPARE(FixtureMode::fromArguments({ QStringLiteral("--ui-testing"), QStringLiteral("--clamshell-not-found") })
                     ->clamshell.approval,
            ClamshellApproval::notFound);
        QCOMPARE(FixtureMode::fromArguments({ QStringLiteral("--ui-testing"), QStringLiteral("--status-empty"),
                                                QStringLiteral("--history-empty") })
                     ->history,
            FixtureMode::History::empty);
    }

    void menuBarWithUpdateItemAndControlMenu()
    {
        auto delegate = launch({});
        QVERIFY(!delegate->updateChecker()->isStarted());
        QMenuBar *bar = delegate->mainMenu();
        QVERIFY(bar);
        QCOMPARE(delegate->mainWindowController()->menuBar(), bar);
        QCOMPARE(texts(bar->actions()),
            (QStringList{ QStringLiteral("Wakora"), QStringLiteral("제어"), QStringLiteral("윈도우") }));
        const QMenu *application = bar->actions().at(0)->menu();
        QCOMPARE(application->actions().at(1)->text(), QStringLiteral("업데이트 확인…"));
        QCOMPARE(application->actions().at(0)->text(), QStringLiteral("Wakora에 관하여"));
        const QMenu *control = bar->actions().at(1)->menu();
        QVERIFY(control);
        QVERIFY(!texts(control->actions()).contains(QStringLiteral("종료")));
        QVERIFY(texts(control->actions()).contains(QStringLiteral("덮개를 닫아도 유지")));
        QVERIFY(delegate->mainWindowController()->isVisible());
    }

    void updaterStartsOutsideTheFixtureMode()
    {
        AppDelegate delegate({ QStringLiteral("Wakora") });
        QVERIFY(delegate.updateChecker()->isStarted());
        // Shorter application menus still get the item, at their end.
        QMenu menu;
        menu.addAction(QStringLiteral("only"));
        delegate.updateChecker()->addMenuItem(&menu);
        QCOMPARE(texts(menu.actions()), (QStringList{ QStringLiteral("only"), QStringLiteral("업데이트 확인…") }));
        delegate.updateChecker()->addMenuItem(nullptr);
    }

    void controlMenuAndWindowSwitchTheSameController()
    {
        auto delegate = launch({});
        QVERIFY(QTest::qWaitForWindowExposed(delegate->mainWindowController()));
        QAction *menuItem = delegate->mainMenu()->findChild<QAction *>(QStringLiteral("menu.displaySleep"));
        QVERIFY(menuItem);
        menuItem->trigger();
        QTRY_VERIFY(delegate->powerController()->isEnabled(AssertionKind::displaySleep));
        QTRY_VERIFY(find<ToggleSwitch>(*delegate, QStringLiteral("toggle.displaySleep"))->isChecked());
        QCOMPARE(
            find<QLabel>(*delegate, QStringLiteral("status.title"))->text(), QStringLiteral("Mac이 깨어 있습니다"));
        // The fixture mode never offers opening at login.
        QVERIFY(!find<ToggleSwitch>(*delegate, QStringLiteral("toggle.openAtLogin")));
    }

    void theOwnRowOfTheFixtureFollowsItsSwitches()
    {
        auto delegate = launch({});
        MainWindowController *window = delegate->mainWindowController();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QString ownRow = QStringLiteral("app.이 앱");
        // Nothing switched on: the panel shows no "이 앱".
        QTRY_VERIFY(find<QWidget>(*delegate, QStringLiteral("app.동영상")));
        QVERIFY(!find<QWidget>(*delegate, ownRow));

        QTest::mouseClick(find<ToggleSwitch>(*delegate, QStringLiteral("toggle.displaySleep")), Qt::LeftButton);
        QTRY_VERIFY(find<QWidget>(*delegate, ownRow));
        QTRY_COMPARE(find<QWidget>(*delegate, ownRow)->findChild<QLabel *>(QStringLiteral("row.subtitle"))->text(),
            QStringLiteral("화면을 켜 두는 중"));
        QTest::mouseClick(find<ToggleSwitch>(*delegate, QStringLiteral("toggle.displaySleep")), Qt::LeftButton);
        QTRY_VERIFY(!find<QWidget>(*delegate, ownRow));
    }

    void quittingReleasesTheInProcessAssertions()
    {
        auto delegate = launch({});
        QVERIFY(QTest::qWaitForWindowExposed(delegate->mainWindowController()));
        QTest::mouseClick(find<ToggleSwitch>(*delegate, QStringLiteral("toggle.systemSleep")), Qt::LeftButton);
        QTest::mouseClick(find<ToggleSwitch>(*delegate, QStringLiteral("toggle.displaySleep")), Qt::LeftButton);
        QTRY_COMPARE(delegate->fixturePowerControl()->activeKinds().size(), 2);
        delegate->applicationWillTerminate();
        QVERIFY(delegate->fixturePowerControl()->activeKinds().isEmpty());
        QVERIFY(!delegate->powerController()->isEnabled(AssertionKind::systemSleep));
    }

    void closingKeepsTheWindowForTheNextPresent()
    {
        auto delegate = launch({});
        MainWindowController *window = delegate->mainWindowController();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->close();
        QVERIFY(!window->isVisible());
        delegate->present();
        QVERIFY(window->isVisible());
        QCOMPARE(delegate->mainWindowController(), window);
    }

    void controlMenuErrorsShowInTheWindow()
    {
        auto delegate = launch({ QStringLiteral("--menubar-off") });
        QVERIFY(QTest::qWaitForWindowExposed(delegate->mainWindowController()));
        QVERIFY(!find<ToggleSwitch>(*delegate, QStringLiteral("toggle.systemSleep"))->isEnabled());
        QVERIFY(find<QLabel>(*delegate, QStringLiteral("menubar.offline"))->isVisible());
        QVERIFY(find<QPushButton>(*delegate, QStringLiteral("menubar.reconnect"))->isVisible());
        delegate->mainMenu()->findChild<QAction *>(QStringLiteral("menu.systemSleep"))->trigger();
        auto *error = find<QLabel>(*delegate, QStringLiteral("toggle.error"));
        QTRY_VERIFY(error->isVisible());
        QCOMPARE(error->text(), QStringLiteral("설정을 변경하지 못했습니다. (Invalid menu bar proxy)"));
    }

    void flakyStatusStopsPollingUntilRetried()
    {
        auto delegate = launch({ QStringLiteral("--status-flaky") });
        MainViewController *view = delegate->mainWindowController()->viewController();
        view->setPollInterval(std::chrono::milliseconds(20));
        QVERIFY(QTest::qWaitForWindowExposed(delegate->mainWindowController()));
        QTRY_VERIFY(view->panelModel()->overview().error());
        auto *status = static_cast<UITestPowerStatus *>(delegate->statusReader());
        QTest::qWait(100);
        QCOMPARE(status->assertionQueries(), 1);
        view->panelModel()->retry();
        QTRY_VERIFY(view->panelModel()->overview().value());
        QTRY_VERIFY(status->assertionQueries() >= 3);
        QVERIFY(!view->panelModel()->overview().value()->apps.isEmpty());
    }

    void lidClosedFixtures()
    {
        auto approval = launch({ QStringLiteral("--clamshell-approval") });
        QVERIFY(QTest::qWaitForWindowExposed(approval->mainWindowController()));
        auto *settings = find<QPushButton>(*approval, QStringLiteral("clamshell.settings"));
        QTRY_VERIFY(settings->isVisible());
        QTest::mouseClick(settings, Qt::LeftButton);
        QCOMPARE(static_cast<UITestClamshellService *>(approval->clamshellService())->settingsOpened(), 1);
        approval.reset();

        auto system = launch({ QStringLiteral("--clamshell-system") });
        QVERIFY(QTest::qWaitForWindowExposed(system->mainWindowController()));
        auto *toggle = find<ToggleSwitch>(*system, QStringLiteral("toggle.clamshell"));
        QTRY_VERIFY(toggle->isChecked());
        QVERIFY(!toggle->isEnabled());
        QVERIFY(find<QLabel>(*system, QStringLiteral("clamshell.warning"))->isVisible());
        system.reset();

        // Not yet registered: the first switch-on registers and turns it on.
        auto fresh = launch({});
        QVERIFY(QTest::qWaitForWindowExposed(fresh->mainWindowController()));
        auto *lid = find<ToggleSwitch>(*fresh, QStringLiteral("toggle.clamshell"));
        QTRY_VERIFY(lid->isEnabled());
        QTest::mouseClick(lid, Qt::LeftButton);
        QTRY_COMPARE(fresh->clamshellController()->state().activation, ClamshellActivation::ownedByApp);
        QTRY_VERIFY(lid->isChecked());
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
