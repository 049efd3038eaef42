#include "ClamshellController.h"
#include "FakePowerControl.h"
#include "PowerController.h"
#include "ScriptedClamshellService.h"
#include "StatusItemController.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

// The control menu over a real controller with the in-memory backend.
class TestStatusItemController : public QObject
{
    Q_OBJECT

    std::shared_ptr<FakePowerControl> control;
    std::unique_ptr<PowerController> power;
    std::shared_ptr<ScriptedClamshellService> service;
    std::unique_ptr<ClamshellController> clamshell;
    int windowOpened = 0;
    QStringList errors;

    std::unique_ptr<StatusItemController> makeController(bool withClamshell)
    {
        return std::make_unique<StatusItemController>(
            power.get(), true, withClamshell ? clamshell.get() : nullptr, [this] { ++windowOpened; },
            [this](const QString &text) { errors << text; });
    }

    static QStringList identifiers(const QMenu *menu)
    {
        QStringList names;
        for (const QAction *action : menu->actions())
            names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
        return names;
    }

    static QAction *item(const QMenu *menu, const QString &identifier)
    {
        for (QAction *action : menu->actions()) {
            if (action->objectName() == identifier)
                return action;
        }
        return nullptr;
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
        service = std::make_shared<ScriptedClamshellService>();
        clamshell = std::make_unique<ClamshellController>(service);
        windowOpened = 0;
        errors.clear();
    }

    void toolTipSaysWhatIsHeldAndSinceWhen()
    {
        const QDate today(2026, 12, 9);
        QCOMPARE(
            StatusItemController::toolTip({}, std::nullopt, today), QStringLiteral("Wakora\nMac이 평소대로 잠듭니다"));
        const QDateTime morning(today, QTime(9, 5));
        QCOMPARE(StatusItemController::toolTip(
                     { QStringLiteral("잠자기 방지"), QStringLiteral("디스플레이 켜 두기") }, morning, today),
            QStringLiteral("Wakora\n잠자기 방지, 디스플레이 켜 두기\n09:05부터"));
        // Held since another day: the day too.
        QCOMPARE(StatusItemController::toolTip({ QStringLiteral("잠자기 방지") }, morning, today.addDays(1)),
            QStringLiteral("Wakora\n잠자기 방지\n12월 9일 (수) 09:05부터"));
    }

    void xembedInkStandsOutOnLightAndDarkPanels()
    {
        QPalette light;
        light.setColor(QPalette::Window, QColor(0xf6, 0xf5, 0xf4));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
        for (const QPalette &palette : { light, dark }) {
            const QImage icon = StatusItemController::trayIcon(true, false, palette).pixmap(22).toImage();
            QVERIFY(!icon.isNull());
            // The drawn pixels are all in the ink, which is far from the panel.
            const QColor ink = StatusItemController::trayInk(palette);
            QVERIFY(std::abs(ink.lightnessF() - palette.color(QPalette::Window).lightnessF()) > 0.6);
            int inked = 0;
            for (int y = 0; y < icon.height(); ++y)
                for (int x = 0; x < icon.width(); ++x)
                    if (qAlpha(icon.pixel(x, y)) == 255) {
                        ++inked;
                        QCOMPARE(QColor(icon.pixel(x, y)).rgb(), ink.rgb());
                    }
            QVERIFY(inked > 20);
        }
    }

    void theTimerMenuStartsShowsAndCancels()
    {
        auto controller = std::make_unique<StatusItemController>(
            power.get(), true, nullptr, [] {}, [](const QString &) {});
        std::optional<QDateTime> end;
        QList<qint64> started;
        QStringList typed;
        QList<bool> thenSuspends;
        int cancels = 0;
        controller->setTimerActions({ [&](qint64 seconds) { started.append(seconds); },
            [&](const QString &text, bool thenSuspend) {
                typed.append(text);
                thenSuspends.append(thenSuspend);
                return QString();
            },
            [&] { ++cancels; }, [&] { return end; } });
        QMenu *menu = controller->statusMenu();
        auto *timer = menu->findChild<QMenu *>(QStringLiteral("menu.timer"));
        QVERIFY(timer);
        // Before "창 열기…", after the switches.
        const QList<QAction *> items = menu->actions();
        const auto at = [&](const QString &text) {
            for (qsizetype index = 0; index < items.size(); ++index)
                if (items.at(index)->text() == text)
                    return index;
            return qsizetype(-1);
        };
        QVERIFY(at(QStringLiteral("시간 지정")) > at(QStringLiteral("디스플레이 켜 두기")));
        QVERIFY(at(QStringLiteral("시간 지정")) < at(QStringLiteral("창 열기…")));

        auto *left = timer->findChild<QAction *>(QStringLiteral("menu.timer.left"));
        auto *cancel = timer->findChild<QAction *>(QStringLiteral("menu.timer.cancel"));
        QVERIFY(!left->isVisible());
        QVERIFY(!cancel->isVisible());
        timer->findChild<QAction *>(QStringLiteral("menu.timer.7200"))->trigger();
        timer->findChild<QAction *>(QStringLiteral("menu.timer.900"))->trigger();
        QCOMPARE(started, (QList<qint64>{ 7200, 900 }));

        // The custom length, with and without "끝나면 잠자기" (off at first).
        for (const bool thenSuspend : { false, true }) {
            timer->findChild<QAction *>(QStringLiteral("menu.timer.typed"))->trigger();
            const auto shown = [] {
                for (QWidget *widget : QApplication::topLevelWidgets())
                    if (widget->objectName() == u"timer.dialog" && widget->isVisible())
                        return qobject_cast<QDialog *>(widget);
                return static_cast<QDialog *>(nullptr);
            };
            QTRY_VERIFY(shown());
            QPointer<QDialog> dialog = shown();
            auto *length = dialog->findChild<QLineEdit *>(QStringLiteral("timer.dialog.length"));
            auto *box = dialog->findChild<QCheckBox *>(QStringLiteral("timer.dialog.thenSuspend"));
            QVERIFY(length && box);
            QCOMPARE(box->text(), QStringLiteral("끝나면 잠자기"));
            QVERIFY(!box->isChecked());
            length->setText(QStringLiteral(" 1h30m "));
            box->setChecked(thenSuspend);
            dialog->accept();
            QTRY_VERIFY(!dialog); // closed and deleted
        }
        QCOMPARE(typed, (QStringList{ QStringLiteral("1h30m"), QStringLiteral("1h30m") }));
        QCOMPARE(thenSuspends, (QList<bool>{ false, true }));

        // A session running: its time left in the menu and the tooltip.
        menu->findChild<QAction *>(QStringLiteral("menu.systemSleep"))->trigger();
        QTRY_VERIFY(power->isEnabled(AssertionKind::systemSleep));
        end = QDateTime::currentDateTimeUtc().addSecs(72 * 60);
        controller->sync();
        QVERIFY(left->isVisible());
        QVERIFY(!left->isEnabled());
        QCOMPARE(left->text(), QStringLiteral("1시간 12분 남음"));
        QVERIFY(controller->statusItem()->toolTip().endsWith(QStringLiteral("\n1시간 12분 남음")));
        cancel->trigger();
        QCOMPARE(cancels, 1);
        end.reset();
        controller->sync();
        QVERIFY(!left->isVisible());
        QVERIFY(!controller->statusItem()->toolTip().contains(QStringLiteral("남음")));
    }

    // What the switches cannot show: a kind asked for that no service holds
    // reads off with its notice, and a display that may blank anyway says so.
    void aKindNothingHoldsReadsOffWithItsNotice()
    {
        auto controller = makeController(false);
        QAction *system = controller->statusMenu()->findChild<QAction *>(QStringLiteral("menu.systemSleep"));
        QAction *display = controller->statusMenu()->findChild<QAction *>(QStringLiteral("menu.displaySleep"));
        QVERIFY(system && display);
        system->trigger();
        QTRY_VERIFY(power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(system->isChecked());

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not held by any service")));
        control->setHeld(1, false);
        QVERIFY(!system->isChecked());
        const QString tip = controller->statusItem()->toolTip();
        QVERIFY2(tip.startsWith(QStringLiteral("Wakora\nMac이 평소대로 잠듭니다\n")), qPrintable(tip));
        QVERIFY2(tip.contains(QStringLiteral("잠자기 방지를 맡아 줄 서비스가 없습니다")), qPrintable(tip));

        // Asked again from the menu: held, and the notice is gone.
        system->trigger();
        QTRY_VERIFY(power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(system->isChecked());
        QVERIFY(!controller->statusItem()->toolTip().contains(QStringLiteral("서비스가 없습니다")));

        power->setBlankingCheck([](quint32) { return true; });
        QVERIFY(!power->displayMayBlank()); // the display kind is not held
        display->trigger();
        QTRY_VERIFY(power->isEnabled(AssertionKind::displaySleep));
        QVERIFY(controller->statusItem()->toolTip().contains(QStringLiteral("화면이 꺼질 수 있습니다")));
    }

    void menuWithoutLidClosedItem()
    {
        auto controller = makeController(false);
        const QMenu *menu = controller->statusMenu();
        QVERIFY(menu);
        QCOMPARE(identifiers(menu),
            (QStringList{ QStringLiteral("menu.systemSleep"), QStringLiteral("menu.displaySleep"), QStringLiteral("-"),
                QStringLiteral("menu.openWindow"), QString() }));
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("종료"));
        QCOMPARE(controller->statusItem()->objectName(), QStringLiteral("statusItem"));
        QCOMPARE(controller->iconName(), QStringLiteral("moon.zzz"));

        QVERIFY(QCoro::waitFor(power->toggle(true, AssertionKind::displaySleep)));
        QVERIFY(item(menu, QStringLiteral("menu.displaySleep"))->isChecked());
        QVERIFY(!item(menu, QStringLiteral("menu.systemSleep"))->isChecked());
        QCOMPARE(controller->iconName(), QStringLiteral("moon.zzz.fill"));
    }

    void choosingAnItemTogglesItsKind()
    {
        auto controller = makeController(false);
        QAction *system = item(controller->statusMenu(), QStringLiteral("menu.systemSleep"));
        system->trigger();
        QTRY_VERIFY(power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(system->isChecked());
        system->trigger();
        QTRY_VERIFY(!power->isEnabled(AssertionKind::systemSleep));
        QVERIFY(!system->isChecked());
        QVERIFY(errors.isEmpty());
    }

    void aRefusedToggleIsReportedAndTheMenuSnapsBack()
    {
        auto controller = makeController(false);
        control->failCreate(PowerError::assertionCreateFailed(-13));
        QAction *display = item(controller->statusMenu(), QStringLiteral("menu.displaySleep"));
        display->trigger();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first(), QStringLiteral("설정을 변경하지 못했습니다. (assertionCreateFailed(code: -13))"));
        QVERIFY(!display->isChecked());
    }

    void lidClosedOutsideTheAppIsCheckedAndDisabled()
    {
        auto controller = makeController(true);
        settleClamshell({ ClamshellApproval::enabled, ClamshellActivation::onOutsideApp });
        QAction *lid = item(controller->statusMenu(), QStringLiteral("menu.clamshell"));
        QVERIFY(lid);
        QVERIFY(lid->isChecked());
        QVERIFY(!lid->isEnabled());
        QCOMPARE(controller->iconName(), QStringLiteral("moon.zzz.fill")); // no power kind held
    }

    void lidClosedNeedingApprovalOpensTheWindowInstead()
    {
        auto controller = makeController(true);
        settleClamshell({ ClamshellApproval::requiresApproval, ClamshellActivation::off });
        QAction *lid = item(controller->statusMenu(), QStringLiteral("menu.clamshell"));
        QVERIFY(lid->isEnabled());
        lid->trigger();
        QCOMPARE(windowOpened, 1);
        QTest::qWait(10);
        QCOMPARE(service->switchRequests, 0);
    }

    void lidClosedItemSwitchesThroughTheController()
    {
        auto controller = makeController(true);
        settleClamshell({ ClamshellApproval::enabled, ClamshellActivation::off });
        QAction *lid = item(controller->statusMenu(), QStringLiteral("menu.clamshell"));
        lid->trigger();
        QTRY_COMPARE(service->switchRequests, 1);
        QTRY_VERIFY(lid->isChecked());
        QCOMPARE(clamshell->state().activation, ClamshellActivation::ownedByApp);
    }

    void controlMenuGoesBeforeTheLastEntry_data()
    {
        QTest::addColumn<int>("entries");
        QTest::newRow("empty") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("three") << 3;
    }

    void controlMenuGoesBeforeTheLastEntry()
    {
        QFETCH(int, entries);
        QMenuBar bar;
        for (int i = 0; i < entries; ++i)
            bar.addMenu(QStringLiteral("menu %1").arg(i));
        auto controller = std::make_unique<StatusItemController>(power.get(), false, clamshell.get(), nullptr, nullptr);
        QVERIFY(!controller->statusItem());
        controller->addControlMenu(&bar);

        const QList<QAction *> actions = bar.actions();
        QCOMPARE(actions.size(), entries + 1);
        QAction *control = actions.at(std::max(entries - 1, 0));
        QCOMPARE(control->text(), QStringLiteral("제어"));
        QVERIFY(control->menu());
        QCOMPARE(identifiers(control->menu()),
            (QStringList{ QStringLiteral("menu.systemSleep"), QStringLiteral("menu.displaySleep"),
                QStringLiteral("menu.clamshell"), QStringLiteral("-"), QStringLiteral("menu.openWindow") }));
    }

    void everyMenuStaysInStep()
    {
        auto controller = makeController(true);
        QMenuBar bar;
        bar.addMenu(QStringLiteral("윈도우"));
        controller->addControlMenu(&bar);
        QVERIFY(QCoro::waitFor(power->toggle(true, AssertionKind::systemSleep)));
        const QMenu *submenu = bar.actions().first()->menu();
        QVERIFY(item(submenu, QStringLiteral("menu.systemSleep"))->isChecked());
        QVERIFY(item(controller->statusMenu(), QStringLiteral("menu.systemSleep"))->isChecked());
        QVERIFY(!item(submenu, QStringLiteral("menu.displaySleep"))->isChecked());
    }
};

QTEST_MAIN(TestStatusItemController)
#include "tst_statusitemcontroller.moc"
