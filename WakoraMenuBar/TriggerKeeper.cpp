#include "TriggerKeeper.h"

#include "TimedSession.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcTriggers, "com.quorvel.WakoraApp.Triggers")

namespace {

qint64 kindsOf(const TriggerRule &rule, const Trigger *trigger)
{
    return rule.kinds != 0 ? rule.kinds : trigger->defaultKinds();
}

} // namespace

TriggerKeeper::TriggerKeeper(KeepAwakeLedger *ledger, RuleStore *store, QList<Trigger *> triggers, QObject *parent)
    : QObject(parent)
    , m_ledger(ledger)
    , m_store(store)
    , m_triggers(std::move(triggers))
{
    for (Trigger *trigger : std::as_const(m_triggers)) {
        trigger->setParent(this);
        m_states.insert(trigger->name(), State{});
        connect(trigger, &Trigger::activeChanged, this, [this, trigger] { activityChanged(trigger); });
    }
    connect(store, &RuleStore::triggerRulesChanged, this, [this](const QString &name) {
        if (Trigger *changed = trigger(name))
            follow(changed);
        Q_EMIT changed();
    });
    connect(ledger, &KeepAwakeLedger::claimCut, this, [this](const QString &owner) { claimCut(owner); });
    for (Trigger *trigger : std::as_const(m_triggers))
        follow(trigger);
}

Trigger *TriggerKeeper::trigger(const QString &name) const
{
    for (Trigger *trigger : m_triggers) {
        if (trigger->name() == name)
            return trigger;
    }
    return nullptr;
}

TriggerRule TriggerKeeper::rule(const QString &name) const
{
    return m_store ? m_store->triggerRule(name) : TriggerRule{};
}

qint64 TriggerKeeper::kinds(const QString &name) const
{
    const Trigger *found = trigger(name);
    return found ? kindsOf(rule(name), found) : 0;
}

bool TriggerKeeper::hasStandingRule() const
{
    return std::any_of(m_states.cbegin(), m_states.cend(), [](const State &state) { return state.started; });
}

QCoro::Task<std::optional<QString>> TriggerKeeper::setRule(QString name, TriggerRule rule)
{
    const Trigger *found = trigger(name);
    if (!found)
        co_return unknownTrigger();
    if (rule.kinds != 0 && !TimedSession::isValidKinds(rule.kinds))
        co_return TimedSession::invalidKinds();
    // Options are checked even for a rule switched off: they are what it
    // starts with when switched on again.
    if (const auto invalid = found->invalidOptions(rule.options))
        co_return invalid;
    const QPointer<RuleStore> store = m_store;
    if (!store)
        co_return QStringLiteral("The agent is ending");
    // The store announces the new rule, which follow() then carries out.
    co_return co_await store->setTriggerRule(name, rule);
}

void TriggerKeeper::follow(Trigger *trigger)
{
    const QString name = trigger->name();
    State &state = m_states[name];
    const TriggerRule wanted = rule(name);
    const std::optional<QString> unavailable = trigger->unavailable();
    // Options spoilt in the file read as none: the trigger's own defaults.
    QVariantMap options = wanted.options;
    if (const auto invalid = trigger->invalidOptions(options)) {
        qCWarning(lcTriggers, "Ignoring the stored options of %s: %s", qUtf8Printable(name), qUtf8Printable(*invalid));
        options.clear();
    }
    const bool watches = wanted.enabled && !unavailable;
    if (!watches) {
        if (unavailable && wanted.enabled)
            qCInfo(lcTriggers, "%s cannot watch here: %s", qUtf8Printable(name), qUtf8Printable(*unavailable));
        if (state.started) {
            qCInfo(lcTriggers, "Stopping %s", qUtf8Printable(name));
            trigger->stop();
        }
        state = State{};
        release(name);
        return;
    }
    if (!state.started || state.options != options) {
        qCInfo(lcTriggers, "Watching %s", qUtf8Printable(name));
        state.started = true;
        state.options = options;
        trigger->start(options);
    }
    // New kinds are a new claim: the old one gives way to it.
    State &current = m_states[name];
    const qint64 kinds = kindsOf(wanted, trigger);
    if (current.claimedKinds != 0 && current.claimedKinds != kinds) {
        current.cut = false;
        release(name);
        current.claimedKinds = 0;
    }
    activityChanged(trigger);
}

void TriggerKeeper::activityChanged(Trigger *trigger)
{
    const QString name = trigger->name();
    State &state = m_states[name];
    if (!state.started)
        return;
    const bool active = trigger->isActive();
    const bool began = active && !state.wasActive;
    state.wasActive = active;
    if (!active) {
        state.cut = false;
        state.claimedKinds = 0;
        release(name);
        return;
    }
    if (began)
        state.cut = false;
    // What is left of a claim follows the subject, even after a cut.
    const QString owner = Claim::triggerOwner(name);
    if (state.claimedKinds != 0 && m_ledger && m_ledger->claim(owner)) {
        const KeepAwakeLedger::Details details{ std::nullopt, trigger->subject(), true };
        m_ledger->describe(owner, details);
        Q_EMIT changed();
        return;
    }
    if (!state.cut)
        claim(trigger);
    else
        Q_EMIT changed();
}

void TriggerKeeper::claimCut(const QString &owner)
{
    for (auto it = m_states.begin(); it != m_states.end(); ++it) {
        if (Claim::triggerOwner(it.key()) != owner)
            continue;
        qCInfo(lcTriggers, "The user ended the claim of %s until its next activation", qUtf8Printable(it.key()));
        it->cut = true;
        // What the user left of it (another kind) stays until the activity ends.
        if (!m_ledger || !m_ledger->claim(owner))
            it->claimedKinds = 0;
    }
}

QCoro::Task<> TriggerKeeper::claim(QPointer<Trigger> trigger)
{
    const QPointer<KeepAwakeLedger> ledger = m_ledger;
    if (!ledger || !trigger)
        co_return;
    const QString name = trigger->name();
    const qint64 kinds = kindsOf(rule(name), trigger);
    m_states[name].claimedKinds = kinds;
    qCInfo(lcTriggers, "%s holds (%s): claiming kinds %lld", qUtf8Printable(name), qUtf8Printable(trigger->subject()),
        kinds);
    // A standing order: while a condition vetoes it, it waits to be held.
    const QString owner = Claim::triggerOwner(name);
    const KeepAwakeLedger::Details details{ std::nullopt, trigger->subject(), /*waitsOutVeto=*/true };
    Q_EMIT changed();
    const auto failure = co_await ledger->add(owner, kinds, details);
    if (failure)
        qCWarning(
            lcTriggers, "Cannot keep kinds %lld on for %s: %s", kinds, qUtf8Printable(name), qUtf8Printable(*failure));
}

QCoro::Task<> TriggerKeeper::release(QString name)
{
    const QPointer<KeepAwakeLedger> ledger = m_ledger;
    const QString owner = Claim::triggerOwner(name);
    Q_EMIT changed();
    if (ledger && ledger->claim(owner))
        co_await ledger->withdraw(owner);
}
