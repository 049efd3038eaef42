#include "AgentHarness.h"
#include "ClamshellController.h"
#include "FakePowerStatus.h"
#include "MainViewController.h"
#include "MainWindowController.h"
#include "RemoteMenuBar.h"
#include "StartOrSkip.h"
#include "ToggleSwitch.h"

#include <QCoroTask>
#include <QLabel>
#include <QTest>

// The main window over the real agent: the switch travels through the
// agent's request service to the (mocked) logind, and back.
class TestMainWindowAgent : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    QString error;

    template <typename T> static T *find(QWidget *window, const char *identifier)
    {
        return window->findChild<T *>(QLatin1String(identifier));
    }

    std::shared_ptr<RemoteMenuBar> client(QDBusConnection bus)
    {
        auto remote = std::make_shared<RemoteMenuBar>(
            bus, AgentHarness::locations(), nullptr, nullptr, RemoteMenuBar::Options{});
        QCoro::waitFor(remote->refresh());
        Q_EMIT remote->didChange();
        return remote;
    }

private Q_SLOTS:
    void init()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            harness->printLogs();
        harness.reset();
    }

    void theSleepSwitchHoldsTheInhibitorInTheAgent()
    {
        std::shared_ptr<RemoteMenuBar> remote = client(harness->session());
        QVERIFY(remote->isAvailable());
        // Another client stands for the agent's own menu, which reads the same state.
        std::shared_ptr<RemoteMenuBar> other = client(harness->buses.bus(MockBuses::session).newConnection());

        FakePowerStatus status(QList<ProcessAssertion>{}, QList<PowerSetting>{});
        ClamshellController clamshell(std::shared_ptr<ClamshellServicing>(remote, remote.get()));
        MainWindowController window(remote.get(), &status, &clamshell, remote.get(), std::nullopt);
        window.present();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        auto *system = find<ToggleSwitch>(&window, "toggle.systemSleep");
        QVERIFY(system->isEnabled());
        QVERIFY(!find<QLabel>(&window, "menubar.offline")->isVisible());
        QTest::mouseClick(system, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(remote->isEnabled(AssertionKind::systemSleep), 10000);
        QVERIFY(system->isChecked());
        const auto held = harness->inhibitors();
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().what, QStringLiteral("sleep"));
        QCOMPARE(held.first().who, QStringLiteral("Wakora"));
        QCOMPARE(find<QLabel>(&window, "status.title")->text(), QStringLiteral("Mac이 깨어 있습니다"));
        QTRY_VERIFY_WITH_TIMEOUT(other->isEnabled(AssertionKind::systemSleep), 10000);

        // Switched off elsewhere: the window follows the agent's announcement.
        QVERIFY(QCoro::waitFor(other->setEnabled(false, AssertionKind::systemSleep)));
        QTRY_VERIFY_WITH_TIMEOUT(!system->isChecked(), 10000);
        QVERIFY(harness->inhibitors().isEmpty());

        // The agent goes away: the window says so and disables the switches.
        harness->stopAgent();
        QTRY_VERIFY_WITH_TIMEOUT(find<QLabel>(&window, "menubar.offline")->isVisible(), 10000);
        QVERIFY(!system->isEnabled());
    }
};

QTEST_MAIN(TestMainWindowAgent)
#include "tst_mainwindowagent.moc"
