#include "SessionRuleKeeper.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcRules, "com.quorvel.WakoraApp.SessionRules")

SessionRuleKeeper::SessionRuleKeeper(KeepAwakeLedger *ledger, RuleStore *store, QObject *parent)
    : QObject(parent)
    , m_ledger(ledger)
    , m_store(store)
{
    connect(store, &RuleStore::conditionsChanged, this, [this] {
        Q_EMIT rulesChanged();
        apply();
    });
    apply();
}

QCoro::Task<std::optional<QString>> SessionRuleKeeper::setRules(SessionRules rules)
{
    const QPointer<RuleStore> store = m_store;
    if (!store)
        co_return QStringLiteral("The agent is ending");
    co_return co_await store->setConditions(rules);
}

void SessionRuleKeeper::setSource(const SessionRules::PowerSource &source)
{
    if (source.onBattery == m_source.onBattery && source.percentage == m_source.percentage)
        return;
    m_source = source;
    apply();
}

void SessionRuleKeeper::apply()
{
    const QPointer<KeepAwakeLedger> ledger = m_ledger;
    if (!ledger || !m_store)
        return;
    const std::optional<QString> veto = m_store->conditions().vetoText(m_source);
    if (veto == ledger->veto())
        return;
    const bool newlyBroken = veto && !ledger->veto();
    if (newlyBroken && !ledger->claims().isEmpty()) {
        const QString reason = brokenRule().value_or(*veto);
        qCInfo(lcRules, "%s Nothing is held until it holds again", qUtf8Printable(reason));
        Q_EMIT ended(reason);
    }
    ledger->setVeto(veto);
}
