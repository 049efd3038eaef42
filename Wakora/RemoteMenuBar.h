#pragma once

#include "ClaimRecord.h"
#include "ClamshellServicing.h"
#include "ConnectionLossPolicy.h"
#include "LidGuardRules.h"
#include "PowerToggling.h"
#include "ProgramLocations.h"
#include "ServiceRegistration.h"
#include "TriggerRecord.h"
#include "UsageHistoryReading.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>

#include <chrono>
#include <memory>

class MenuBarClientCallback;

// The texts of the client's own failures.
class RemoteError
{
public:
    RemoteError() = delete;

    static QString invalidProxy() { return QStringLiteral("Invalid menu bar proxy"); }
    static QString missingUsageData() { return QStringLiteral("Missing usage data"); }
    static QString notResponding();
    static QString helperNotFound();
};

// The agent as seen from another process: its power controller, its usage
// history and its lid-closed service, over the session bus. It keeps a copy
// of the agent's state for synchronous reads, refreshes it after every
// change and every StateDidChange from the agent, and while the agent cannot
// be reached asks again every few seconds, without end. Main thread only.
//
// A "connection" is one owner of the agent's bus name, checked to be the
// agent of our prefix run by our user; requests go to that owner's unique
// name, and its leaving the bus is the connection's loss.
class RemoteMenuBar : public PowerToggling, public UsageHistoryReading, public ClamshellServicing
{
    Q_OBJECT

public:
    struct Options {
        std::chrono::milliseconds requestTimeout{ 10'000 };
        std::chrono::milliseconds retryInterval{ 3'000 };
        std::chrono::milliseconds launchDelay{ 1'000 };
        // Export the StateDidChange callback; a one-shot command needs none.
        bool receivesChanges = true;
    };

    RemoteMenuBar(QDBusConnection bus, ProgramLocations locations, std::shared_ptr<ServiceRegistration> loginItem,
        std::shared_ptr<ServiceRegistration> daemon, Options options, QObject *parent = nullptr);
    ~RemoteMenuBar() override;

    // As the power controller.
    bool isAvailable() const override { return m_isAvailable; }
    qint32 ownerPID() const override { return m_ownerPID; }
    std::optional<QDateTime> activeSince() const override { return m_activeSince; }
    bool isEnabled(AssertionKind kind) const override;
    bool isWaiting(AssertionKind kind) const override { return (m_mask & waitingBit(kind)) != 0; }
    bool displayMayBlank() const override { return (m_mask & displayMayBlankBit) != 0; }
    QCoro::Task<Expected<void, QString>> setEnabled(bool enabled, AssertionKind kind) override;
    void reconnect() override;

    // As the usage history.
    QCoro::Task<Expected<UsageSummary, QString>> summary() override;
    QCoro::Task<Expected<void, QString>> clear() override;

    // As the lid-closed service.
    QCoro::Task<ClamshellState> currentState() override;
    QCoro::Task<Expected<ClamshellState, QString>> setEnabled(bool enabled) override;
    void openSettings() override;

    // The agent's timed sessions: kinds as a bit set (1 system sleep, 2
    // display sleep). A start turns the kinds on at once; the agent turns
    // off what it turned on when the session ends.
    // With thenSuspend the agent puts the machine to sleep when the time
    // runs out, after a minute's warning.
    struct TimedSessionState {
        qint64 kinds = 0; // 0 when no session runs
        std::optional<QDateTime> endsAt;
        bool thenSuspend = false;
    };
    QCoro::Task<Expected<void, QString>> startTimedSession(qint64 kinds, qint64 seconds, bool thenSuspend = false);
    QCoro::Task<Expected<void, QString>> startTimedSessionUntil(qint64 kinds, QDateTime end, bool thenSuspend = false);
    // Ends the running session now; what it turned on goes off.
    QCoro::Task<Expected<void, QString>> cancelTimedSession();
    QCoro::Task<Expected<TimedSessionState, QString>> timedSession();

    // The agent's conditions for keeping the machine awake at all.
    struct Rules {
        bool onlyOnAC = false;
        int batteryFloor = 0; // percent, 0 for none
    };
    QCoro::Task<Expected<Rules, QString>> rules();
    QCoro::Task<Expected<void, QString>> setRules(Rules rules);
    // "While an application runs": a desktop entry id (empty for none) and kinds.
    struct WhileApplication {
        QString application;
        qint64 kinds = 1;
    };
    QCoro::Task<Expected<WhileApplication, QString>> whileApplication();
    QCoro::Task<Expected<void, QString>> setWhileApplication(QString idOrName, qint64 kinds);
    // The guards that give the lid-closed mode back.
    QCoro::Task<Expected<LidGuardRules, QString>> lidGuards();
    QCoro::Task<Expected<void, QString>> setLidGuards(LidGuardRules guards);

    // The triggers the agent offers, their rules and what each watches now;
    // a rule for one of them (kinds 0 for the trigger's own).
    QCoro::Task<Expected<QList<TriggerRecord>, QString>> triggers();
    QCoro::Task<Expected<void, QString>> setTrigger(QString name, bool enabled, qint64 kinds, QVariantMap options);

    // What keeps the machine awake, and the conditions that now forbid it.
    struct Claims {
        QList<ClaimRecord> claims;
        QStringList vetoes;
    };
    QCoro::Task<Expected<Claims, QString>> claims();
    // Claims the kinds (a bit set) while a command runs, until release() or
    // until this connection leaves the bus.
    QCoro::Task<Expected<void, QString>> hold(qint64 kinds, QString command);
    QCoro::Task<Expected<void, QString>> release();

    // Keeps the agent registered at login, replaces agents of other
    // prefixes and reads the state once. Called once after creation.
    void start();
    QCoro::Task<Expected<bool, QString>> opensAtLogin();
    QCoro::Task<Expected<bool, QString>> setOpensAtLogin(bool enabled);

    // Reads the agent's state; on failure forgets it and schedules a retry.
    // Announces nothing: callers emit didChange() after it.
    QCoro::Task<> refresh();
    void launchAgent();
    void replaceForeignAgents();

    qint64 clamshellMode() const { return m_clamshell; }
    // A retry waits for its time, or its refresh is being answered.
    bool isRetryPending() const { return m_retryPending || m_retrying; }
    std::optional<QString> agentBusName() const { return m_connection; }

private:
    friend class MenuBarClientCallback;

    QCoro::Task<Expected<QString, QString>> connection();
    QCoro::Task<Expected<QVariantList, QString>> callRaw(QString method, QVariantList arguments);
    // A request that changes the held kinds: its reply, then a refresh.
    QCoro::Task<Expected<void, QString>> change(QString method, QVariantList arguments);
    void scheduleRetry();
    void connectionLost(const QString &identity);
    void handleConnectionLoss();
    void toggleSettled();
    void stateDidChange(const QString &sender);
    ClamshellState clamshellState() const;

    QDBusConnection m_bus;
    ProgramLocations m_locations;
    std::shared_ptr<ServiceRegistration> m_loginItem;
    std::shared_ptr<ServiceRegistration> m_daemon;
    Options m_options;
    std::optional<QString> m_connection;
    QDBusServiceWatcher m_watcher;
    std::unique_ptr<MenuBarClientCallback> m_callback;
    ConnectionLossPolicy<QString> m_lossPolicy;

    qint64 m_mask = 0;
    qint64 m_clamshell = 0;
    bool m_retryPending = false;
    bool m_retrying = false; // a retry's refresh is being answered
    bool m_noticeRefreshRunning = false;
    bool m_noticePending = false;
    // Toggles of ours awaiting their reply or refresh, and a notice heard meanwhile.
    int m_togglesInFlight = 0;
    bool m_noticeDeferred = false;
    bool m_isAvailable = false;
    qint32 m_ownerPID = 0;
    std::optional<QDateTime> m_activeSince;
};
