#pragma once

#include "FixtureMode.h"
#include "PowerToggling.h"

#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <QCoroTask>

#include <memory>
#include <optional>

class ApplicationInstance;
class ConditionsDialog;
class ClamshellController;
class ClamshellServicing;
class FakePowerControl;
class MainWindowController;
class PowerStatusReading;

class RemoteMenuBar;
class RunningApplicationReading;
class StatusItemController;
class UpdateChecker;
class UsageHistoryReading;

// The main application's object graph: one RemoteMenuBar standing for the
// agent's power controller, usage history and lid-closed service (or, with
// "--ui-testing", canned collaborators in this process), the main window,
// its menu bar and the control menu. Main thread only.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(QStringList arguments, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Builds everything and shows the window.
    void applicationDidFinishLaunching();
    // Gives back what this process holds itself: only the fixture mode's
    // in-process controller holds anything; the agent keeps its own.
    void applicationWillTerminate();

    PowerToggling *powerController() const { return m_powerController; }
    MainWindowController *mainWindowController() const { return m_mainWindowController.get(); }
    StatusItemController *statusItemController() const { return m_statusItemController.get(); }
    ClamshellController *clamshellController() const { return m_clamshellController.get(); }
    UpdateChecker *updateChecker() const { return m_updateChecker; }
    QMenuBar *mainMenu() const { return m_mainMenu; }
    // The fixture mode's collaborators, for tests; null in normal runs.
    FakePowerControl *fixturePowerControl() const { return m_fakeControl.get(); }
    PowerStatusReading *statusReader() const { return m_statusReader.get(); }
    ClamshellServicing *clamshellService() const { return m_clamshellService.get(); }

public Q_SLOTS:
    void present();
    void presentError(const QString &message);
    // "깨워 둘 조건…": the agent's conditions in a dialog of their own.
    void presentConditions();

private:
    void buildFixtures(const FixtureMode &mode);
    void buildRemote();
    void offerConditions();
    QCoro::Task<> refreshConditions();
    QCoro::Task<> applyConditions();

    QStringList m_arguments;
    QPointer<PowerToggling> m_powerController;
    std::unique_ptr<MainWindowController> m_mainWindowController;
    std::unique_ptr<StatusItemController> m_statusItemController;
    std::unique_ptr<ClamshellController> m_clamshellController;
    UpdateChecker *m_updateChecker;

    // What the graph stands on, owned here.
    std::shared_ptr<RemoteMenuBar> m_remote;
    std::shared_ptr<FakePowerControl> m_fakeControl;
    std::unique_ptr<PowerToggling> m_ownedPower;
    std::unique_ptr<PowerStatusReading> m_statusReader;
    std::shared_ptr<ClamshellServicing> m_clamshellService;
    std::shared_ptr<UsageHistoryReading> m_usage;
    std::shared_ptr<RunningApplicationReading> m_applications;
    QPointer<QMenuBar> m_mainMenu;
    QPointer<ConditionsDialog> m_conditionsDialog;
};
