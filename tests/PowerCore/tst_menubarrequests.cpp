#include "FakePowerControl.h"
#include "MenuBarRequests.h"
#include "MenuBarService.h"
#include "PowerController.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

// The agent's request handling over a real controller, and the agent's identity.
class TestMenuBarRequests : public QObject
{
    Q_OBJECT

    std::shared_ptr<FakePowerControl> control;
    std::unique_ptr<PowerController> controller;

private Q_SLOTS:
    void init()
    {
        control = std::make_shared<FakePowerControl>();
        controller = std::make_unique<PowerController>(
            control, [] { return QDateTime::fromMSecsSinceEpoch(1'700'000'000'250, QTimeZone::utc()); });
    }

    void stateCarriesBitsAndTheStartTime()
    {
        MenuBarRequests requests(controller.get());
        QCOMPARE(requests.state(), (MenuBarRequests::State{ 0, 0 }));

        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::displaySleep)));
        QCOMPARE(requests.state().assertions, 2);
        QCOMPARE(requests.state().activeSince, 1'700'000'000.25);

        QVERIFY(QCoro::waitFor(controller->toggle(true, AssertionKind::systemSleep)));
        QCOMPARE(requests.state(), (MenuBarRequests::State{ 3, 1'700'000'000.25 }));

        QVERIFY(QCoro::waitFor(controller->toggle(false, AssertionKind::displaySleep)));
        QCOMPARE(requests.state().assertions, 1);
    }

    void invalidKindsLeaveTheControllerAlone()
    {
        MenuBarRequests requests(controller.get());
        QSignalSpy changes(controller.get(), &PowerToggling::didChange);
        for (const qint64 kind : { qint64(2), qint64(-1), qint64(1) << 40 }) {
            const auto reply = QCoro::waitFor(requests.setAssertion(kind, true));
            QCOMPARE(reply, std::optional<QString>(QStringLiteral("Invalid kind")));
        }
        QCOMPARE(changes.count(), 0);
        QVERIFY(control->activeKinds().isEmpty());
    }

    void repliesCarryTheFailureText()
    {
        MenuBarRequests requests(controller.get());
        control->failCreate(PowerError::assertionCreateFailed(5));
        QCOMPARE(QCoro::waitFor(requests.setAssertion(0, true)),
            std::optional<QString>(QStringLiteral("assertionCreateFailed(code: 5)")));
        QCOMPARE(requests.state().assertions, 0);

        control->failCreate();
        QCOMPARE(QCoro::waitFor(requests.setAssertion(0, true)), std::nullopt);
        QCOMPARE(requests.state().assertions, 1);
    }

    void unchangedStateIsSuccessWithoutAnnouncement()
    {
        MenuBarRequests requests(controller.get());
        QCOMPARE(QCoro::waitFor(requests.setAssertion(1, true)), std::nullopt);
        QSignalSpy changes(controller.get(), &PowerToggling::didChange);
        QCOMPARE(QCoro::waitFor(requests.setAssertion(1, true)), std::nullopt);
        QCOMPARE(QCoro::waitFor(requests.setAssertion(0, false)), std::nullopt);
        QCOMPARE(changes.count(), 0);
    }

    void identityTexts()
    {
        QCOMPARE(MenuBarService::machServiceName(), MenuBarService::bundleIdentifier());
        QCOMPARE(MenuBarService::bundleIdentifier(), QStringLiteral("Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar"));
        QCOMPARE(MenuBarService::mainAppRequirement(),
            QStringLiteral("identifier \"com.quorvel.WakoraApp\" and anchor apple generic and certificate "
                           "leaf[subject.OU] = \"Q4WX7KD2RM\""));
        QCOMPARE(MenuBarService::menuBarRequirement(),
            QStringLiteral("identifier \"Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar\" and anchor apple generic "
                           "and certificate leaf[subject.OU] = \"Q4WX7KD2RM\""));
        for (const QString &text : { MenuBarService::mainAppRequirement(), MenuBarService::menuBarRequirement() }) {
            QVERIFY(text.endsWith(QLatin1Char('"')));
            QCOMPARE(text.count(QLatin1Char('"')), 4);
        }
    }
};

QTEST_GUILESS_MAIN(TestMenuBarRequests)
#include "tst_menubarrequests.moc"
