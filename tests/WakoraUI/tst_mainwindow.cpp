#include "ClaimTexts.h"
#include "ClamshellController.h"
#include "FakePowerControl.h"
#include "MainViewController.h"
#include "MainWindowController.h"
#include "PowerController.h"
#include "PowerStatusReading.h"
#include "ScriptedClamshellService.h"
#include "StatusPanelModel.h"
#include "ToggleSwitch.h"
#include "UsageChartsView.h"
#include "UsageHistoryReading.h"

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

#include <memory>

namespace {

// The agent is not running: nothing is held and toggles are refused.
class OfflinePower : public PowerToggling
{
public:
    int reconnects = 0;

    bool isAvailable() const override { return false; }
    qint32 ownerPID() const override { return 0; }
    std::optional<QDateTime> activeSince() const override { return std::nullopt; }
    bool isEnabled(AssertionKind) const override { return false; }
    QCoro::Task<Expected<void, QString>> setEnabled(bool, AssertionKind) override
    {
        co_return Unexpected(QStringLiteral("Invalid menu bar proxy"));
    }
    void reconnect() override { ++reconnects; }
};

// Counts its queries; the assertions query fails while `failing` is set.
class CountingStatus : public PowerStatusReading
{
public:
    int assertionQueries = 0;
    int settingsQueries = 0;
    bool failing = false;
    QList<ProcessAssertion> current
        = { { 4242, QStringLiteral("sleep"), QStringLiteral("Backup"), QStringLiteral("restic") } };
    QList<PowerSetting> settingList = { { QStringLiteral("Currently in use"), QStringLiteral("sleep"),
        QStringLiteral("10 (sleep prevented by restic)") } };

    QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> assertions() override
    {
        ++assertionQueries;
        if (failing)
            co_return Unexpected(PowerStatusError::assertionQueryFailed(-5));
        co_return QList<ProcessAssertion>(current); // a copy: co_return moves from members
    }
    QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> settings() override
    {
        ++settingsQueries;
        co_return QList<PowerSetting>(settingList);
    }
};

class CountingUsage : public UsageHistoryReading
{
public:
    int summaries = 0;
    int clears = 0;
    UsageSummary answer;

    QCoro::Task<Expected<UsageSummary, QString>> summary() override
    {
        ++summaries;
        co_return UsageSummary(answer);
    }
    QCoro::Task<Expected<void, QString>> clear() override
    {
        ++clears;
        answer = {};
        co_return {};
    }
};

template <typename T> T *child(QWidget *root, const QString &identifier)
{
    return root->findChild<T *>(identifier);
}

} // namespace

// The main window over in-memory collaborators, found by identifier.
class TestMainWindow : public QObject
{
    Q_OBJECT

    std::shared_ptr<FakePowerControl> control;
    std::unique_ptr<PowerController> power;
    CountingStatus status;
    CountingUsage usage;
    std::shared_ptr<ScriptedClamshellService> service;
    std::unique_ptr<ClamshellController> clamshell;

    std::unique_ptr<MainWindowController> makeWindow(
        PowerToggling *toggling, bool withClamshell, std::optional<MainWindowOptions> options = std::nullopt)
    {
        auto window = std::make_unique<MainWindowController>(
            toggling, &status, withClamshell ? clamshell.get() : nullptr, &usage, std::move(options));
        window->viewController()->setPollInterval(std::chrono::milliseconds(20));
        return window;
    }

    void settleClamshell(ClamshellState state)
    {
        service->current = state;
        QSignalSpy changes(clamshell.get(), &ClamshellController::didChange);
        clamshell->refresh();
        QVERIFY(changes.count() > 0 || changes.wait(1000));
    }

private Q_SLOTS:
    void init()
    {
        control = std::make_shared<FakePowerControl>();
        power = std::make_unique<PowerController>(control);
        status = {};
        usage = {};
        service = std::make_shared<ScriptedClamshellService>();
        clamshell = std::make_unique<ClamshellController>(service);
    }

    void windowShape()
    {
        auto window = makeWindow(power.get(), true);
        QCOMPARE(window->objectName(), QStringLiteral("mainWindow"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Wakora"));
        QCOMPARE(window->centralWidget()->width(), 720);
        QVERIFY(window->centralWidget()->height() >= 440);
        for (const char *id : { "status.title", "status.detail", "toggle.error", "menubar.offline", "clamshell.notice",
                 "clamshell.warning" })
            QVERIFY2(child<QLabel>(window.get(), QLatin1String(id)), id);
        for (const char *id : { "toggle.systemSleep", "toggle.displaySleep", "toggle.clamshell" })
            QVERIFY2(child<ToggleSwitch>(window.get(), QLatin1String(id)), id);
        QCOMPARE(child<ToggleSwitch>(window.get(), QStringLiteral("toggle.systemSleep"))->accessibleName(),
            QStringLiteral("잠자기 방지"));
        // Closing hides the window and keeps it for present().
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->close();
        QVERIFY(!window->isVisible());
        window->present();
        QVERIFY(window->isVisible());
    }

    void theFocusRingWaitsForTheKeyboard()
    {
        auto window = makeWindow(power.get(), true);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *first = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.systemSleep"));
        auto *second = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.displaySleep"));
        // The window coming up, or a click, gives focus without a ring.
        first->setFocus(Qt::ActiveWindowFocusReason);
        QTRY_VERIFY(first->hasFocus());
        QVERIFY(!first->showsFocusRing());
        QTest::mouseClick(second, Qt::LeftButton);
        QVERIFY(!second->showsFocusRing());
        // Tab moves focus by the keyboard: now it shows where it is.
        first->setFocus(Qt::TabFocusReason);
        QVERIFY(first->showsFocusRing());
        second->setFocus(Qt::MouseFocusReason);
        QVERIFY(!first->showsFocusRing());
        QVERIFY(!second->showsFocusRing());
        // Working the focused switch from the keyboard shows it too.
        QTest::keyClick(second, Qt::Key_Space);
        QVERIFY(second->showsFocusRing());
    }

    void aTimedSessionShowsItsTimeLeftBeneathTheHeader()
    {
        auto window = makeWindow(power.get(), true);
        const QDateTime now(QDate(2026, 12, 9), QTime(16, 0), QTimeZone::utc());
        window->viewController()->setClock([now] { return now; });
        struct Agent {
            QDateTime end;
            int asked = 0;
            QCoro::Task<QDateTime> sessionEnd()
            {
                ++asked;
                // A copy: GCC 12 moves from a member named in co_return.
                const QDateTime answer = end;
                co_return answer;
            }
        } agent{ now.addSecs(72 * 60 + 30) };
        window->viewController()->setTimedSessionSource([&agent] { return agent.sessionEnd(); });
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *remaining = child<QLabel>(window.get(), QStringLiteral("status.remaining"));
        QTRY_VERIFY(remaining->isVisible());
        QCOMPARE(remaining->text(), QStringLiteral("1시간 13분 남음"));
        // The session ends: the line goes with the next look.
        agent.end = QDateTime();
        const int before = agent.asked;
        QTRY_VERIFY(agent.asked > before);
        QTRY_VERIFY(!remaining->isVisible());
    }

    // Why the machine is kept awake, or not: a line per claim and per veto,
    // in the words of the tray and `wakora status`; none while none.
    void theReasonsShowBeneathTheHeader()
    {
        auto window = makeWindow(power.get(), true);
        const QDateTime now(QDate(2026, 12, 9), QTime(16, 0), QTimeZone::utc());
        struct Agent {
            QList<Claim> claims;
            QStringList vetoes;
            QDateTime now;
            QCoro::Task<QStringList> reasons()
            {
                const QStringList lines = ClaimTexts::of(claims, vetoes, now);
                co_return lines;
            }
        } agent{ { Claim{ Claim::timerOwner(), 1, now.addSecs(72 * 60 + 30), QString() },
                     Claim{ Claim::applicationOwner(), 3, std::nullopt, QStringLiteral("Vim") },
                     Claim{ Claim::manualOwner(), 2, std::nullopt, QString() },
                     Claim{ Claim::holdOwner(QStringLiteral(":1.7")), 1, std::nullopt, QStringLiteral("make") },
                     Claim{ Claim::triggerOwner(QStringLiteral("media")), 3, std::nullopt, QStringLiteral("mpv") } },
            { QStringLiteral("배터리 20% 미만이라 꺼 둠") }, now };
        window->viewController()->setReasonsSource([&agent] { return agent.reasons(); });
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *reasons = child<QLabel>(window.get(), QStringLiteral("status.reasons"));
        QTRY_VERIFY(reasons->isVisible());
        QCOMPARE(reasons->text(),
            QStringLiteral(
                "타이머: 1시간 13분 남음\nVim 실행 중 (디스플레이 포함)\n직접 켬 (디스플레이)\nmake 실행 중\n"
                "mpv에서 재생 중 (디스플레이 포함)\n배터리 20% 미만이라 꺼 둠"));
        // The timer's last minute counts seconds.
        agent.claims = { Claim{ Claim::timerOwner(), 1, now.addMSecs(44'500), QString() } };
        agent.vetoes.clear();
        QTRY_COMPARE(reasons->text(), QStringLiteral("타이머: 45초 남음"));
        agent.claims.clear();
        QTRY_VERIFY(!reasons->isVisible());
    }

    void theConditionsLineShowsOnlyWhenSet()
    {
        auto window = makeWindow(power.get(), true);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *line = child<QLabel>(window.get(), QStringLiteral("status.conditions"));
        QVERIFY(!line->isVisible());
        window->viewController()->setConditionsText(QStringLiteral("전원 연결 시에만"));
        QVERIFY(line->isVisible());
        QCOMPARE(line->text(), QStringLiteral("전원 연결 시에만"));
        window->viewController()->setConditionsText(QString());
        QVERIFY(!line->isVisible());
    }

    // A kind asked for that no service holds: its switch reads off, a line
    // beneath the header says why, and both follow when it is held again.
    void aKindNothingHoldsShowsItsNoticeBeneathTheHeader()
    {
        auto window = makeWindow(power.get(), false);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *notice = child<QLabel>(window.get(), QStringLiteral("status.holds"));
        auto *system = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.systemSleep"));
        QVERIFY(!notice->isVisible());
        QVERIFY(QCoro::waitFor(power->toggle(true, AssertionKind::systemSleep)));
        QVERIFY(system->isChecked());

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not held by any service")));
        control->setHeld(1, false);
        QVERIFY(!system->isChecked());
        QVERIFY(notice->isVisible());
        QVERIFY(notice->text().startsWith(QStringLiteral("잠자기 방지를 맡아 줄 서비스가 없습니다")));
        QCOMPARE(child<QLabel>(window.get(), QStringLiteral("status.title"))->text(),
            QStringLiteral("Mac이 평소대로 잠듭니다"));

        control->setHeld(1, true);
        QVERIFY(system->isChecked());
        QVERIFY(!notice->isVisible());
    }

    void offlineDisablesTheSwitchesAndOffersToStartTheAgent()
    {
        OfflinePower offline;
        int reads = 0;
        MainWindowOptions options{ [&reads]() -> QCoro::Task<std::optional<bool>> {
                                      ++reads;
                                      co_return true;
                                  },
            [](bool) -> QCoro::Task<> { co_return; } };
        auto window = makeWindow(&offline, true, options);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(!child<ToggleSwitch>(window.get(), QStringLiteral("toggle.systemSleep"))->isEnabled());
        QVERIFY(!child<ToggleSwitch>(window.get(), QStringLiteral("toggle.displaySleep"))->isEnabled());
        QTRY_VERIFY(reads > 0);
        auto *login = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.openAtLogin"));
        QVERIFY(login->isChecked());
        QVERIFY(!login->isEnabled());

        auto *notice = child<QLabel>(window.get(), QStringLiteral("menubar.offline"));
        auto *button = child<QPushButton>(window.get(), QStringLiteral("menubar.reconnect"));
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->text(), QStringLiteral("메뉴바 앱이 꺼져 있어 잠자기 방지를 사용할 수 없습니다."));
        QCOMPARE(button->text(), QStringLiteral("다시 켜기"));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(offline.reconnects, 1);
        // The chart is never asked for while the agent is away.
        QTest::qWait(50);
        QCOMPARE(usage.summaries, 0);
    }

    void offlineWithoutLidClosedControllerSaysHowToStart()
    {
        OfflinePower offline;
        auto window = makeWindow(&offline, false);
        QVERIFY(!child<ToggleSwitch>(window.get(), QStringLiteral("toggle.clamshell")));
        QCOMPARE(child<QLabel>(window.get(), QStringLiteral("menubar.offline"))->text(),
            QStringLiteral("잠자기 방지를 사용하려면 메뉴바 앱을 켜야 합니다. 켜면 로그인할 때 자동으로 실행됩니다."));
        QCOMPARE(child<QPushButton>(window.get(), QStringLiteral("menubar.reconnect"))->text(), QStringLiteral("켜기"));
    }

    void switchesToggleAndTheHeaderFollows()
    {
        auto window = makeWindow(power.get(), false);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(!child<QLabel>(window.get(), QStringLiteral("menubar.offline"))->isVisible());
        auto *title = child<QLabel>(window.get(), QStringLiteral("status.title"));
        auto *detail = child<QLabel>(window.get(), QStringLiteral("status.detail"));
        QCOMPARE(title->text(), QStringLiteral("Mac이 평소대로 잠듭니다"));
        QVERIFY(!detail->isVisible());

        auto *system = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.systemSleep"));
        QTest::mouseClick(system, Qt::LeftButton);
        QTRY_VERIFY(power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(system->isChecked());
        QCOMPARE(title->text(), QStringLiteral("Mac이 깨어 있습니다"));
        // Right after the start the elapsed time already reads a minute.
        QCOMPARE(detail->text(), QStringLiteral("1분째"));
        QVERIFY(detail->isVisible());
        QCOMPARE(child<QLabel>(window.get(), QStringLiteral("status.icon"))->property("symbol").toString(),
            QStringLiteral("sun.max"));

        // A change made elsewhere (the tray menu) shows up too.
        QVERIFY(QCoro::waitFor(power->toggle(true, AssertionKind::displaySleep)));
        QVERIFY(child<ToggleSwitch>(window.get(), QStringLiteral("toggle.displaySleep"))->isChecked());
    }

    // A screen reader's "Toggle" must ask the power controller, as a click
    // does, not merely flip the switch's look.
    void assistiveTechnologyTogglesLikeAClick()
    {
        auto window = makeWindow(power.get(), false);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *system = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.systemSleep"));
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(system);
        QVERIFY(accessible && accessible->actionInterface());
        QCOMPARE(accessible->role(), QAccessible::CheckBox);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("잠자기 방지"));
        QCOMPARE(accessible->actionInterface()->actionNames().value(0), QAccessibleActionInterface::toggleAction());

        accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QTRY_VERIFY(power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(accessible->state().checked);
        QCOMPARE(
            child<QLabel>(window.get(), QStringLiteral("status.title"))->text(), QStringLiteral("Mac이 깨어 있습니다"));
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(!power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(!accessible->state().checked);

        system->setEnabled(false);
        QVERIFY(!accessible->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    }

    void aRefusedToggleShowsTheErrorAndGrowsTheWindowDownwards()
    {
        auto window = makeWindow(power.get(), false);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const int top = window->geometry().top();
        const int height = window->height();
        control->failCreate(PowerError::assertionCreateFailed(-13));
        auto *display = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.displaySleep"));
        QTest::mouseClick(display, Qt::LeftButton);
        auto *error = child<QLabel>(window.get(), QStringLiteral("toggle.error"));
        QTRY_VERIFY(error->isVisible());
        QCOMPARE(error->text(), QStringLiteral("설정을 변경하지 못했습니다. (assertionCreateFailed(code: -13))"));
        QVERIFY(!display->isChecked());
        QVERIFY(window->height() >= height);
        QCOMPARE(window->geometry().top(), top);

        // A long error needs more room than the 440-point minimum.
        window->presentError(QString(QStringLiteral("긴 오류 문장입니다. ")).repeated(150));
        QVERIFY(window->height() > height);
        QCOMPARE(window->geometry().top(), top);

        control->failCreate();
        QTest::mouseClick(display, Qt::LeftButton);
        QTRY_VERIFY(!error->isVisible());
        QVERIFY(display->isChecked());
        QTRY_COMPARE(window->height(), height);
        QCOMPARE(window->geometry().top(), top);
    }

    void pollingStopsAfterAFailedQueryUntilRetried()
    {
        auto window = makeWindow(power.get(), false);
        MainViewController *view = window->viewController();
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(status.assertionQueries >= 3); // polling
        QVERIFY(view->panelModel()->overview().value());
        QCOMPARE(view->panelModel()->overview().value()->systemProcesses, QStringList{ QStringLiteral("restic") });

        status.failing = true;
        QTRY_VERIFY(view->panelModel()->overview().error());
        QVERIFY(!view->isPolling());
        const int asked = status.assertionQueries;
        QTest::qWait(150);
        QCOMPARE(status.assertionQueries, asked);

        status.failing = false;
        view->panelModel()->retry();
        QTRY_VERIFY(status.assertionQueries >= asked + 3);
        QVERIFY(view->isPolling());
        QVERIFY(view->panelModel()->overview().value());
    }

    void pollingRunsOnlyWhileOnScreen()
    {
        auto window = makeWindow(power.get(), false);
        QTest::qWait(60);
        QCOMPARE(status.assertionQueries, 0);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(status.assertionQueries > 0);
        window->close();
        QVERIFY(!window->viewController()->isPolling());
        const int asked = status.assertionQueries;
        QTest::qWait(100);
        QCOMPARE(status.assertionQueries, asked);
    }

    void settingsUsageAndClearing()
    {
        usage.answer.days = { { QDate(2026, 12, 1).startOfDay(), 5400 } };
        usage.answer.apps = { { QStringLiteral("Firefox"), 90 } };
        auto window = makeWindow(power.get(), false);
        MainViewController *view = window->viewController();
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(view->panelModel()->settings().value());
        QCOMPARE(view->panelModel()->settings().value()->size(), 1);
        QCOMPARE(view->panelModel()->settings().value()->first().value, QStringLiteral("10분 후"));
        QTRY_COMPARE(view->chartsHost()->summary(), usage.answer);
        QCOMPARE(view->panelModel()->usage(), std::optional<UsageSummary>(usage.answer));

        view->panelModel()->clearUsage();
        QTRY_COMPARE(usage.clears, 1);
        QTRY_VERIFY(view->chartsHost()->summary().days.isEmpty());
        QVERIFY(view->panelModel()->usage()->apps.isEmpty());
    }

    void openAtLoginIsOnlyOfferedWithOptions()
    {
        auto without = makeWindow(power.get(), false);
        QVERIFY(!child<ToggleSwitch>(without.get(), QStringLiteral("toggle.openAtLogin")));

        std::optional<bool> stored = false;
        QList<bool> writes;
        MainWindowOptions options{ [&stored]() -> QCoro::Task<std::optional<bool>> { co_return stored; },
            [&stored, &writes](bool value) -> QCoro::Task<> {
                writes << value;
                stored = value;
                co_return;
            } };
        auto window = makeWindow(power.get(), false, options);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *login = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.openAtLogin"));
        QTRY_VERIFY(login->isEnabled());
        QVERIFY(!login->isChecked());
        QTest::mouseClick(login, Qt::LeftButton);
        QTRY_COMPARE(writes, QList<bool>{ true });
        QVERIFY(login->isChecked());
        // An unknown answer keeps what the switch shows.
        stored.reset();
        window->viewController()->refreshOverviewNow();
        QTest::qWait(30);
        QVERIFY(login->isChecked());
    }

    void lidClosedNotices()
    {
        auto window = makeWindow(power.get(), true);
        window->present();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *toggle = child<ToggleSwitch>(window.get(), QStringLiteral("toggle.clamshell"));
        auto *notice = child<QLabel>(window.get(), QStringLiteral("clamshell.notice"));
        auto *settings = child<QPushButton>(window.get(), QStringLiteral("clamshell.settings"));
        auto *warning = child<QLabel>(window.get(), QStringLiteral("clamshell.warning"));
        auto *title = child<QLabel>(window.get(), QStringLiteral("status.title"));

        settleClamshell({ ClamshellApproval::requiresApproval, ClamshellActivation::off });
        QVERIFY(notice->isVisible());
        QVERIFY(!notice->text().isEmpty());
        QVERIFY(settings->isVisible());
        QVERIFY(!warning->isVisible());
        QTest::mouseClick(settings, Qt::LeftButton);
        QCOMPARE(service->opened, 1);

        // On outside the application: checked, not switchable, and awake.
        settleClamshell({ ClamshellApproval::enabled, ClamshellActivation::onOutsideApp });
        QVERIFY(toggle->isChecked());
        QVERIFY(!toggle->isEnabled());
        QVERIFY(!settings->isVisible());
        QCOMPARE(title->text(), QStringLiteral("Mac이 깨어 있습니다"));

        // A failed switch shows the controller's message until it clears.
        settleClamshell({ ClamshellApproval::enabled, ClamshellActivation::off });
        QVERIFY(!notice->isVisible() && !settings->isVisible());
        QVERIFY(
            !child<QWidget>(window.get(), QStringLiteral("clamshell.notices"))->isVisible() || warning->isVisible());
        service->failure = QStringLiteral("helper gone");
        QTest::mouseClick(toggle, Qt::LeftButton);
        auto *error = child<QLabel>(window.get(), QStringLiteral("toggle.error"));
        QTRY_VERIFY(error->isVisible());
        QVERIFY(error->text().contains(QStringLiteral("helper gone")));
        QVERIFY(!toggle->isChecked());
        service->failure.reset();
        QTest::mouseClick(toggle, Qt::LeftButton);
        QTRY_VERIFY(toggle->isChecked());
        QTRY_VERIFY(!error->isVisible());
        QVERIFY(warning->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
