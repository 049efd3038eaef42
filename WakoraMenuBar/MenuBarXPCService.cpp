#include "MenuBarXPCService.h"

#include "ApplicationSessionWatcher.h"
#include "ClaimRecord.h"
#include "ClamshellController.h"
#include "KeepAwakeLedger.h"
#include "LidGuards.h"
#include "LoginLaunchPolicy.h"
#include "MenuBarService.h"
#include "OffMainThread.h"
#include "PeerProcess.h"
#include "SessionRuleKeeper.h"
#include "TimedSession.h"
#include "TimedSessionController.h"
#include "TriggerKeeper.h"
#include "TriggerRecord.h"
#include "UsageStore.h"

#include <QCoreApplication>
#include <QDBusMetaType>
#include <QLoggingCategory>

#include <QTimeZone>

#include <cmath>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcService, "com.quorvel.WakoraApp.MenuBarService")

namespace {

const DBusInterfaceDescription &agentInterface()
{
    static const auto description = DBusInterfaceDescription::load(
        QStringLiteral(":/interfaces/com.quorvel.WakoraApp.MenuBar.xml"), MenuBarService::interfaceName());
    return description;
}

const DBusInterfaceDescription &sessionsInterface()
{
    static const auto description
        = DBusInterfaceDescription::load(QStringLiteral(":/interfaces/com.quorvel.WakoraApp.MenuBar.Sessions.xml"),
            MenuBarService::sessionsInterfaceName());
    return description;
}

double secondsSince1970(const std::optional<QDateTime> &time)
{
    return time ? double(time->toMSecsSinceEpoch()) / 1000.0 : 0.0;
}

QVariant optionalText(const std::optional<QString> &text)
{
    return QVariant::fromValue(text ? QStringList{ *text } : QStringList{});
}

} // namespace

MenuBarXPCService::MenuBarXPCService(PowerToggling *power, KeepAwakeLedger *ledger, ClamshellController *clamshell,
    std::shared_ptr<UsageStore> usage, QDBusConnection bus, QStringList admittedPrograms,
    TimedSessionController *timedSessions, SessionRuleKeeper *rules, ApplicationSessionWatcher *applicationWatcher,
    LidGuards *lidGuards, TriggerKeeper *triggers, QObject *parent)
    : DBusRequestService(timedSessions
            ? QList<const DBusInterfaceDescription *>{ &agentInterface(), &sessionsInterface() }
            : QList<const DBusInterfaceDescription *>{ &agentInterface() },
        parent)
    , m_power(power)
    , m_ledger(ledger)
    , m_clamshell(clamshell)
    , m_timedSessions(timedSessions)
    , m_rules(rules)
    , m_applicationWatcher(applicationWatcher)
    , m_lidGuards(lidGuards)
    , m_triggers(triggers)
    , m_usage(std::move(usage))
    , m_bus(bus)
    , m_admittedPrograms(std::move(admittedPrograms))
    , m_requests(power)
    , m_watcher(QString(), bus, QDBusServiceWatcher::WatchForUnregistration)
{
    qDBusRegisterMetaType<QByteArrayList>(); // the usage summary's "aay"
    ClaimRecord::registerType();
    TriggerRecord::registerType();
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &MenuBarXPCService::removeClient);
    connect(power, &PowerToggling::didChange, this, &MenuBarXPCService::notifyClients);
    if (ledger) {
        // A change of the claims is told once the controller has caught up
        // with it, unless the held kinds' change has told it meanwhile: a
        // switch changes the claims and then the held kinds, and clients
        // hear of it once.
        const auto tellClaims = [this] {
            if (m_claimsNoticePending && m_ledger && !m_ledger->isBusy())
                notifyClients();
        };
        connect(ledger, &KeepAwakeLedger::changed, this, [this, tellClaims] {
            if (m_claimsNoticePending)
                return;
            m_claimsNoticePending = true;
            QMetaObject::invokeMethod(this, tellClaims, Qt::QueuedConnection);
        });
        connect(ledger, &KeepAwakeLedger::caughtUp, this, tellClaims);
    }
    if (timedSessions)
        connect(timedSessions, &TimedSessionController::didChange, this, &MenuBarXPCService::notifyClients);
    if (rules)
        connect(rules, &SessionRuleKeeper::rulesChanged, this, &MenuBarXPCService::notifyClients);
    if (applicationWatcher)
        connect(applicationWatcher, &ApplicationSessionWatcher::ruleChanged, this, &MenuBarXPCService::notifyClients);
    if (lidGuards)
        connect(lidGuards, &LidGuards::rulesChanged, this, &MenuBarXPCService::notifyClients);
    if (triggers) {
        // A trigger's rule or activity: told once, after whatever else the
        // same turn of the event loop changed.
        connect(triggers, &TriggerKeeper::changed, this, [this] {
            if (m_triggersNoticePending)
                return;
            m_triggersNoticePending = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_triggersNoticePending = false;
                    notifyClients();
                },
                Qt::QueuedConnection);
        });
    }
    if (clamshell) {
        // The lid-closed controller also announces a re-read that found
        // nothing new; clients hear only of a mode that changed.
        m_announcedClamshell = rawValue(clamshell->state().activation);
        connect(clamshell, &ClamshellController::didChange, this, [this] {
            const qint64 activation = m_clamshell ? rawValue(m_clamshell->state().activation) : 0;
            if (activation == m_announcedClamshell)
                return;
            m_announcedClamshell = activation;
            notifyClients();
        });
    }
}

bool MenuBarXPCService::registerOnBus()
{
    return m_bus.registerVirtualObject(MenuBarService::objectPath(), this);
}

std::unique_ptr<QSettings> MenuBarXPCService::defaults()
{
    return std::make_unique<QSettings>(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar"));
}

QCoro::Task<> MenuBarXPCService::serve(QDBusMessage message)
{
    QPointer<MenuBarXPCService> self(this);
    QDBusConnection bus = m_bus;
    const QString sender = message.service();
    std::shared_ptr<TurnQueue> &arrivals = m_arrivals[sender];
    if (!arrivals)
        arrivals = std::make_shared<TurnQueue>();
    const std::shared_ptr<TurnQueue> queue = arrivals;

    std::optional<QCoro::Task<QDBusMessage>> answering;
    {
        // Admission and the start of the work, in arrival order; the work
        // itself may then take its time while the next request starts.
        const TurnQueue::Turn turn = co_await queue->next();
        if (!self)
            co_return;
        const bool admitted = co_await admit(sender);
        if (!self)
            co_return;
        if (!admitted) {
            bus.send(message.createErrorReply(
                QDBusError::AccessDenied, peerRefusal(sender, QStringLiteral("not a Wakora program of this user"))));
            if (m_arrivals.value(sender) == queue && !m_clients.contains(sender))
                m_arrivals.remove(sender);
            co_return;
        }
        addClient(sender);
        answering.emplace(answer(message));
    }
    const QDBusMessage reply = co_await std::move(*answering);
    // The reply goes out even when the service went away meanwhile: every
    // request is answered exactly once.
    bus.send(reply);
}

QCoro::Task<bool> MenuBarXPCService::admit(QString sender)
{
    if (m_admitted.contains(sender))
        co_return true;
    QPointer<MenuBarXPCService> self(this);
    const QStringList programs = m_admittedPrograms;
    const auto peer = co_await identifyPeer(m_bus, sender);
    if (!self)
        co_return false;
    if (!peer) {
        qCWarning(lcService, "Refused %s: %s", qUtf8Printable(sender), qUtf8Printable(peer.error()));
        co_return false;
    }
    if (peer.value().uid != ::getuid() || !peer.value().runs(programs)) {
        qCWarning(lcService, "Refused %s: %s (uid %u) is not a Wakora program of this user", qUtf8Printable(sender),
            qUtf8Printable(peer.value().executable), unsigned(peer.value().uid));
        co_return false;
    }
    m_admitted.insert(sender);
    co_return true;
}

void MenuBarXPCService::addClient(const QString &name)
{
    if (m_clients.contains(name))
        return;
    m_clients.append(name);
    m_watcher.addWatchedService(name);
}

void MenuBarXPCService::removeClient(const QString &name)
{
    if (m_ledger && m_ledger->claim(Claim::holdOwner(name)))
        m_ledger->withdraw(Claim::holdOwner(name));
    m_clients.removeAll(name);
    m_admitted.remove(name);
    m_arrivals.remove(name);
    m_watcher.removeWatchedService(name);
}

void MenuBarXPCService::notifyClients()
{
    m_claimsNoticePending = false;
    for (const QString &client : std::as_const(m_clients)) {
        QDBusMessage call = QDBusMessage::createMethodCall(client, MenuBarService::clientObjectPath(),
            MenuBarService::clientInterfaceName(), QStringLiteral("StateDidChange"));
        call.setAutoStartService(false);
        // send() marks it as expecting no reply; an unreachable client is skipped.
        m_bus.send(call);
    }
}

QCoro::Task<QDBusMessage> MenuBarXPCService::answer(QDBusMessage message)
{
    if (message.interface() == MenuBarService::sessionsInterfaceName()
        || (message.interface().isEmpty() && sessionsInterface().method(message.member())))
        co_return co_await answerSessions(message);
    QPointer<MenuBarXPCService> self(this);
    const QString member = message.member();
    const QVariantList arguments = message.arguments();

    if (member == u"State") {
        const MenuBarRequests::State state = m_requests.state();
        const qint64 clamshell = m_clamshell ? rawValue(m_clamshell->state().activation) : 0;
        co_return message.createReply(
            QVariantList{ QVariant::fromValue(qlonglong(state.assertions)), QVariant::fromValue(qlonglong(clamshell)),
                QVariant::fromValue(qint32(QCoreApplication::applicationPid())), QVariant(state.activeSince) });
    }
    if (member == u"SetAssertion") {
        const qint64 kind = arguments.at(0).toLongLong();
        const bool enabled = arguments.at(1).toBool();
        // While a rule is broken nothing is held: the switch is refused in
        // the rule's words rather than answered with success over nothing.
        const std::optional<AssertionKind> asked = assertionKindFromRaw(kind);
        if (enabled && asked && m_rules && m_power && !m_power->isAskedFor(*asked)) {
            if (const auto broken = m_rules->brokenRule())
                co_return message.createReply(QVariantList{ optionalText(broken) });
        }
        const auto failure = co_await m_requests.setAssertion(kind, enabled);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"SetClamshell") {
        QPointer<ClamshellController> clamshell = m_clamshell;
        if (!clamshell)
            co_return message.createReply(QVariantList{ optionalText(std::nullopt) });
        const bool enabled = arguments.at(0).toBool();
        // A guard that would give the mode back at once refuses it in its words instead.
        if (enabled && m_lidGuards && clamshell->state().activation == ClamshellActivation::off) {
            if (const auto refused = m_lidGuards->refusal())
                co_return message.createReply(QVariantList{ optionalText(refused) });
        }
        const auto failure = co_await clamshell->setEnabledAwaiting(enabled);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"UsageSummary") {
        QByteArrayList data;
        if (m_usage) {
            const QByteArray json = m_usage->summary(7, 5).toJson();
            if (!json.isEmpty())
                data.append(json);
        }
        co_return message.createReply(QVariantList{ QVariant::fromValue(data) });
    }
    if (member == u"ClearUsageHistory") {
        if (m_usage)
            m_usage->clear();
        co_return message.createReply();
    }
    if (member == u"OpensAtLogin") {
        const bool opens = defaults()->value(LoginLaunchPolicy::defaultsKey(), true).toBool();
        co_return message.createReply(QVariantList{ QVariant(opens) });
    }
    if (member == u"SetOpensAtLogin") {
        // Written and synced to disk off the main thread, which goes on serving.
        const bool opens = arguments.at(0).toBool();
        const std::optional<QString> failure = co_await offMainThread([opens]() -> std::optional<QString> {
            const auto settings = defaults();
            settings->setValue(LoginLaunchPolicy::defaultsKey(), opens);
            settings->sync();
            if (settings->status() != QSettings::NoError)
                return settings->fileName();
            return std::nullopt;
        });
        if (failure)
            co_return message.createErrorReply(
                QDBusError::Failed, QStringLiteral("Cannot store the setting in %1").arg(*failure));
        co_return message.createReply();
    }
    co_return message.createErrorReply(QDBusError::UnknownMethod, member);
}

QCoro::Task<QDBusMessage> MenuBarXPCService::answerSessions(QDBusMessage message)
{
    QPointer<TimedSessionController> sessions = m_timedSessions;
    const QString member = message.member();
    const QVariantList arguments = message.arguments();
    if (!sessions)
        co_return message.createErrorReply(QDBusError::UnknownMethod, member);

    if (member == u"TimedSession") {
        const TimedSession &session = sessions->session();
        co_return message.createReply(QVariantList{
            QVariant::fromValue(qlonglong(session.kinds())), QVariant(secondsSince1970(session.endsAt())) });
    }
    if (member.startsWith(u"StartTimedSession") && m_rules) {
        if (const auto broken = m_rules->brokenRule())
            co_return message.createReply(QVariantList{ optionalText(broken) });
    }
    if (member == u"TimedSessionThenSuspend") {
        const TimedSession &session = sessions->session();
        co_return message.createReply(QVariantList{ QVariant(session.isRunning() && session.thenSuspend()) });
    }
    if (member == u"StartTimedSession" || member == u"StartTimedSessionThen") {
        const qint64 kinds = arguments.at(0).toLongLong();
        const qint64 seconds = arguments.at(1).toLongLong();
        const bool thenSuspend = arguments.value(2).toBool();
        const auto failure = co_await sessions->startFor(kinds, seconds, thenSuspend);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"StartTimedSessionUntil" || member == u"StartTimedSessionUntilThen") {
        const qint64 kinds = arguments.at(0).toLongLong();
        const double until = arguments.at(1).toDouble();
        const bool thenSuspend = arguments.value(2).toBool();
        // NaN and infinities make no moment; the range check refuses them with the rest.
        const QDateTime end = std::isfinite(until) && std::abs(until) < 1e12
            ? QDateTime::fromMSecsSinceEpoch(qint64(until * 1000.0), QTimeZone::utc())
            : QDateTime();
        const auto failure = co_await sessions->startUntil(kinds, end, thenSuspend);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"Rules") {
        const SessionRules rules = m_rules ? m_rules->rules() : SessionRules{};
        co_return message.createReply(QVariantList{ QVariant(rules.onlyOnAC), QVariant(qint32(rules.batteryFloor)) });
    }
    if (member == u"SetRules") {
        QPointer<SessionRuleKeeper> keeper = m_rules;
        if (!keeper)
            co_return message.createErrorReply(QDBusError::NotSupported, member);
        SessionRules rules;
        rules.onlyOnAC = arguments.at(0).toBool();
        rules.batteryFloor = arguments.at(1).toInt();
        const auto failure = co_await keeper->setRules(rules);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"LidGuards") {
        const LidGuardRules guards = m_lidGuards ? m_lidGuards->rules() : LidGuardRules{};
        co_return message.createReply(
            QVariantList{ QVariant(guards.powerRules), QVariant(qint32(guards.bagMinutes)), QVariant(guards.thermal) });
    }
    if (member == u"SetLidGuards") {
        QPointer<LidGuards> guards = m_lidGuards;
        if (!guards)
            co_return message.createErrorReply(QDBusError::NotSupported, member);
        const LidGuardRules wanted{ arguments.at(0).toBool(), arguments.at(1).toInt(), arguments.at(2).toBool() };
        const auto failure = co_await guards->setRules(wanted);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"WhileApplication") {
        const ApplicationRule rule = m_applicationWatcher ? m_applicationWatcher->rule() : ApplicationRule{};
        co_return message.createReply(
            QVariantList{ QVariant(rule.application), QVariant::fromValue(qlonglong(rule.kinds)) });
    }
    if (member == u"SetWhileApplication") {
        QPointer<ApplicationSessionWatcher> watcher = m_applicationWatcher;
        if (!watcher)
            co_return message.createErrorReply(QDBusError::NotSupported, member);
        const QString application = arguments.at(0).toString();
        const qint64 kinds = arguments.at(1).toLongLong();
        const auto failure = co_await watcher->setRule(application, kinds);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"Triggers") {
        QList<TriggerRecord> records;
        if (const QPointer<TriggerKeeper> keeper = m_triggers) {
            for (const Trigger *trigger : keeper->triggers()) {
                const QString name = trigger->name();
                const TriggerRule rule = keeper->rule(name);
                records.append(TriggerRecord{ name, rule.enabled, keeper->kinds(name), rule.options,
                    trigger->unavailable().value_or(QString()), keeper->isWatching(name) && trigger->isActive(),
                    trigger->subject() });
            }
        }
        co_return message.createReply(QVariantList{ QVariant::fromValue(records) });
    }
    if (member == u"SetTrigger") {
        QPointer<TriggerKeeper> keeper = m_triggers;
        if (!keeper)
            co_return message.createReply(QVariantList{ optionalText(TriggerKeeper::unknownTrigger()) });
        const QString name = arguments.at(0).toString();
        TriggerRule rule;
        rule.enabled = arguments.at(1).toBool();
        rule.kinds = arguments.at(2).toLongLong();
        rule.options = qdbus_cast<QVariantMap>(arguments.at(3));
        const auto failure = co_await keeper->setRule(name, rule);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"Hold") {
        QPointer<KeepAwakeLedger> ledger = m_ledger;
        if (!ledger)
            co_return message.createErrorReply(QDBusError::NotSupported, member);
        const qint64 kinds = arguments.at(0).toLongLong();
        if (!TimedSession::isValidKinds(kinds))
            co_return message.createReply(QVariantList{ optionalText(TimedSession::invalidKinds()) });
        if (m_rules) {
            if (const auto broken = m_rules->brokenRule())
                co_return message.createReply(QVariantList{ optionalText(broken) });
        }
        // The caller's claim lasts while its connection does: a command
        // killed before it could say so gives its kinds back all the same.
        const QString owner = Claim::holdOwner(message.service());
        const KeepAwakeLedger::Details details{ std::nullopt, arguments.at(1).toString(), false };
        const auto failure = co_await ledger->add(owner, kinds, details);
        co_return message.createReply(QVariantList{ optionalText(failure) });
    }
    if (member == u"Release") {
        if (const QPointer<KeepAwakeLedger> ledger = m_ledger) {
            const QString owner = Claim::holdOwner(message.service());
            co_await ledger->withdraw(owner);
        }
        co_return message.createReply();
    }
    if (member == u"Claims") {
        // What keeps the machine awake, and what forbids it now.
        QList<ClaimRecord> records;
        QStringList vetoes;
        if (const QPointer<KeepAwakeLedger> ledger = m_ledger) {
            for (const Claim &claim : ledger->claims())
                records.append(ClaimRecord::of(claim));
            if (ledger->veto())
                vetoes.append(*ledger->veto());
        }
        co_return message.createReply(QVariantList{ QVariant::fromValue(records), QVariant(vetoes) });
    }
    if (member == u"CancelTimedSession") {
        co_await sessions->cancel();
        co_return message.createReply();
    }
    co_return message.createErrorReply(QDBusError::UnknownMethod, member);
}
