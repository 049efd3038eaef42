#pragma once

#include <QCoroTask>

#include "AgentHandoverState.h"
#include "ProgramLocations.h"

#include <QDBusConnection>
#include <QObject>

#include <chrono>
#include <memory>
#include <optional>

class ClamshellController;
class InhibitorPowerControl;
class KeepAwakeLedger;
class LidGuards;
class LidStateMonitor;
class LedgerSwitch;
class PowerSourceMonitor;
class RuleStore;
class MenuBarXPCService;
class PowerController;
class SessionNotifier;
class SuspendAfterSession;
class SessionRuleKeeper;
class SleepWatcher;
class ApplicationSessionWatcher;
class StatusItemController;
class TimedSessionController;
class TriggerKeeper;
class UsageRecorder;
class WallClockWatcher;
class X11ScreenSaverSuspension;

// Builds the agent in its start-up order, checks once whether anyone wants
// it, and gives back the assertions when it ends.
class MenuBarAppDelegate : public QObject
{
    Q_OBJECT

public:
    struct Options {
        QStringList extraClients; // more programs admitted as clients (development and tests)
        int graceSeconds;
        bool showsStatusItem = true;
        // The cgroup tree whose units say which applications run; empty for
        // the user manager's own.
        QString applicationUnits;
        // The root of the thermal zones' tree; empty for /sys/class/thermal.
        QString thermalZones;
        // How long the warning before a "then suspend" lasts; absent for a minute.
        std::optional<std::chrono::milliseconds> suspendGrace;
    };

    MenuBarAppDelegate(QDBusConnection systemBus, QDBusConnection sessionBus, ProgramLocations locations,
        Options options, QObject *parent = nullptr);
    ~MenuBarAppDelegate() override;

    // Answers false, after saying why, when the agent cannot serve (another
    // agent owns the name, or the bus refuses); the caller then exits.
    bool applicationDidFinishLaunching();
    // Gives back every inhibitor, awaiting each service's answer, then quits
    // the application. Asking again while it runs changes nothing.
    QCoro::Task<> quitWhenReleased();
    // The last word as the event loop ends: whatever is still held is given
    // back without waiting for answers.
    void applicationWillTerminate();
    // After an upgrade replaced the agent's program: hands everything over
    // to an agent started from the new file, then quits; stays, and says
    // why, when the file was not replaced or the new agent does not come up.
    QCoro::Task<> handOverToNewProgram();

    PowerController *powerController() const { return m_powerController.get(); }
    KeepAwakeLedger *ledger() const { return m_ledger.get(); }

Q_SIGNALS:
    // The session bus connection is gone for good: no client can reach the
    // agent any more.
    void sessionBusLost();

private Q_SLOTS:
    void sessionBusDisconnected();

private:
    void checkIdle();
    void openMainApplication();
    // The tray's "시간 지정" menu, served by the timed sessions.
    void offerTimedSessions();
    // The guards that give the lid-closed mode back, fed by logind and UPower.
    void guardTheLid();
    QCoro::Task<> reportTimedStart(QCoro::Task<std::optional<QString>> start);
    // Owns the agent's well-known name, from which on requests reach it.
    bool ownName();
    // What a new agent needs to carry on with what this one holds.
    AgentHandoverState handoverState() const;
    // The new agent's side: takes the state's claims and lid-closed mode,
    // then owns the name; quits instead if it cannot take all of it.
    QCoro::Task<> resumeThenServe(AgentHandoverState state);
    // The hand-over failed: the name back, the new agent ended, the
    // lid-closed mode ours again.
    QCoro::Task<> keepServing(QString why, qint64 newAgent, QString program, bool lidClosedMode);

    QDBusConnection m_systemBus;
    QDBusConnection m_sessionBus;
    ProgramLocations m_locations;
    Options m_options;
    std::shared_ptr<InhibitorPowerControl> m_powerControl;
    std::unique_ptr<PowerController> m_powerController;
    std::unique_ptr<KeepAwakeLedger> m_ledger;
    std::unique_ptr<LedgerSwitch> m_switch;
    std::unique_ptr<RuleStore> m_ruleStore;
    std::unique_ptr<PowerSourceMonitor> m_powerSource;
    std::unique_ptr<X11ScreenSaverSuspension> m_screenSaver;
    std::unique_ptr<SleepWatcher> m_sleepWatcher;
    std::unique_ptr<WallClockWatcher> m_wallClock;
    std::unique_ptr<TimedSessionController> m_timedSessions;
    std::unique_ptr<SessionNotifier> m_sessionNotifier;
    std::unique_ptr<SuspendAfterSession> m_suspendAfterSession;
    std::unique_ptr<SessionRuleKeeper> m_ruleKeeper;
    std::unique_ptr<ApplicationSessionWatcher> m_applicationWatcher;
    std::unique_ptr<TriggerKeeper> m_triggerKeeper;
    std::unique_ptr<ClamshellController> m_clamshell;
    std::unique_ptr<LidStateMonitor> m_lidState;
    std::unique_ptr<LidGuards> m_lidGuards;
    std::unique_ptr<StatusItemController> m_statusItemController;
    std::unique_ptr<UsageRecorder> m_usageRecorder;
    std::unique_ptr<MenuBarXPCService> m_xpcService;
    bool m_quitting = false;
    bool m_handingOver = false;
};
