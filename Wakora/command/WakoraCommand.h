#pragma once

#include "ProgramLocations.h"
#include "StatusInhibitors.h"

#include <QDBusConnection>
#include <QStringList>

#include <QCoroTask>

#include <QDateTime>

#include <memory>
#include <optional>

class RemoteMenuBar;

// The wakora command: the agent's state and switches from a terminal.
//
//   wakora status [--json]   held kinds, since when, the timed session's
//                            remaining time, lid-closed mode, agent pid,
//                            and who else keeps the machine awake
//   wakora on [--display] [--for LENGTH | --until HH:MM [--then-suspend]]
//                            keep the system (and the display) awake, for a
//                            while (90m, 2h, 1h30m) or until a clock time,
//                            and then (--then-suspend) put the machine to sleep
//   wakora off [--display]   let the system (and the display) sleep again
//   wakora toggle [--display]
//                            switch system sleep (and the display) over
//   wakora rule [ac on|off | battery PERCENT|off | app ID [--display]|off]
//                            the conditions for keeping the machine awake
//   wakora rule media|fullscreen|remote|busy|schedule ...
//                            the triggers' rules (TriggerCommand)
//   wakora lid [on|off]      the lid-closed mode, and its guards (LidCommand)
//   wakora lid guard [...]
//   wakora usage [--json]    the last 7 days
//   wakora hold [--display] -- COMMAND...
//                            awake while COMMAND runs; exits with its status
//
// Every verb needs the session bus, where the agent is: without one it
// says so at once and exits with noSessionBus.
class WakoraCommand
{
public:
    enum ExitStatus {
        success = 0,
        failure = 1,
        usageError = 2,
        agentNotRunning = 3,
        noSessionBus = 4,
        commandNotStarted = 127,
    };

    WakoraCommand(QDBusConnection bus, ProgramLocations locations);
    ~WakoraCommand();

    QCoro::Task<int> run(QStringList arguments);

private:
    QCoro::Task<int> status(bool json);
    QCoro::Task<StatusInhibitors> readInhibitors();
    QCoro::Task<int> switchKinds(bool enabled, bool display);
    QCoro::Task<int> toggle(bool display);
    // No change shows the rules; otherwise one of them changes.
    QCoro::Task<int> rule(std::optional<bool> onlyOnAC, std::optional<int> batteryFloor,
        std::optional<QString> application, bool display);
    // A timed session: seconds from now, or an end; and whether the machine sleeps then.
    QCoro::Task<int> startTimed(
        bool display, std::optional<qint64> seconds, std::optional<QDateTime> end, bool thenSuspend);
    QCoro::Task<int> usage(bool json);
    QCoro::Task<int> hold(bool display, QStringList command);
    // Starts the agent when nobody owns its name: through the bus's
    // activation when the agent is installed, else the agent of our prefix.
    QCoro::Task<bool> ensureAgent();
    QCoro::Task<bool> connect();
    // Both of the above; says why when it fails.
    QCoro::Task<bool> reachAgent();
    // Says so when there is no session bus to find the agent on.
    bool hasSessionBus() const;

    QDBusConnection m_bus;
    ProgramLocations m_locations;
    std::unique_ptr<RemoteMenuBar> m_remote;
};
