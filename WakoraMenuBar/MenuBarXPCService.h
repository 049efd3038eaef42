#pragma once

#include "TurnQueue.h"

#include "DBusRequestService.h"
#include "MenuBarRequests.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QPointer>
#include <QSet>
#include <QSettings>

#include <memory>

class ClamshellController;
class KeepAwakeLedger;
class LidGuards;
class PowerToggling;
class TimedSessionController;
class TriggerKeeper;
class SessionRuleKeeper;
class ApplicationSessionWatcher;
class UsageStore;

// Serves the agent's requests on the session bus to the main application
// and the wakora command of our prefix, run by our user; everyone else gets
// AccessDenied before anything of the request happens. Every admitted caller
// is a client until it leaves the bus, and hears StateDidChange after every
// change of the assertions, of the lid-closed state or of a timed session. Main thread only.
class MenuBarXPCService : public DBusRequestService
{
    Q_OBJECT

public:
    // Serves the timed sessions too when given their controller. The
    // switch is the user's word to the ledger (LedgerSwitch), which lists
    // what keeps the machine awake.
    MenuBarXPCService(PowerToggling *power, KeepAwakeLedger *ledger, ClamshellController *clamshell,
        std::shared_ptr<UsageStore> usage, QDBusConnection bus, QStringList admittedPrograms,
        TimedSessionController *timedSessions = nullptr, SessionRuleKeeper *rules = nullptr,
        ApplicationSessionWatcher *applicationWatcher = nullptr, LidGuards *lidGuards = nullptr,
        TriggerKeeper *triggers = nullptr, QObject *parent = nullptr);

    // Exports the service at its object path; the bus name is the caller's.
    bool registerOnBus();

    // Unique bus names, in the order they were admitted.
    const QStringList &clients() const { return m_clients; }
    // A client counts from its first message on, admitted or not yet.
    bool hasClients() const { return !m_clients.isEmpty() || !m_arrivals.isEmpty(); }
    MenuBarRequests::State state() const { return m_requests.state(); }

    void notifyClients();

protected:
    void requestArrived(const QDBusMessage &message) override { serve(message); }

private:
    QCoro::Task<> serve(QDBusMessage message);
    QCoro::Task<bool> admit(QString sender);
    QCoro::Task<QDBusMessage> answer(QDBusMessage message);
    QCoro::Task<QDBusMessage> answerSessions(QDBusMessage message);
    void addClient(const QString &name);
    void removeClient(const QString &name);
    // The agent's own settings; any thread may open them.
    static std::unique_ptr<QSettings> defaults();

    QPointer<PowerToggling> m_power;
    QPointer<KeepAwakeLedger> m_ledger;
    QPointer<ClamshellController> m_clamshell;
    QPointer<TimedSessionController> m_timedSessions;
    QPointer<SessionRuleKeeper> m_rules;
    QPointer<ApplicationSessionWatcher> m_applicationWatcher;
    QPointer<LidGuards> m_lidGuards;
    QPointer<TriggerKeeper> m_triggers;
    std::shared_ptr<UsageStore> m_usage;
    QDBusConnection m_bus;
    QStringList m_admittedPrograms;
    MenuBarRequests m_requests;
    QStringList m_clients;
    QSet<QString> m_admitted;
    // Each sender's requests are admitted once and start in the order they
    // arrived: a turn per sender, held until its request has started.
    QHash<QString, std::shared_ptr<TurnQueue>> m_arrivals;
    QDBusServiceWatcher m_watcher;
    qint64 m_announcedClamshell = 0;
    bool m_claimsNoticePending = false;
    bool m_triggersNoticePending = false;
};
