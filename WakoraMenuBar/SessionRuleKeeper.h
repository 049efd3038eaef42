#pragma once

#include "KeepAwakeLedger.h"
#include "RuleStore.h"

#include <QObject>
#include <QPointer>

// Applies the user's conditions on the power source (only on mains power,
// not below a battery level) as the ledger's veto: while one is broken
// nothing is held, and every claim returns when it holds again. Main thread
// only.
class SessionRuleKeeper : public QObject
{
    Q_OBJECT

public:
    SessionRuleKeeper(KeepAwakeLedger *ledger, RuleStore *store, QObject *parent = nullptr);

    const SessionRules &rules() const { return m_store->conditions(); }
    const SessionRules::PowerSource &source() const { return m_source; }
    // The reason a rule forbids keeping the machine awake right now, if one
    // does, in the notice's words.
    std::optional<QString> brokenRule() const { return m_store->conditions().broken(m_source); }
    // Stores and applies new rules; absent on success, else the text the
    // requester is shown. Nothing is stored when the rules are not valid.
    QCoro::Task<std::optional<QString>> setRules(SessionRules rules);
    // What the power source says now.
    void setSource(const SessionRules::PowerSource &source);

Q_SIGNALS:
    void rulesChanged();
    // A rule stopped holding while something was claimed; the reason in the
    // notice's words.
    void ended(const QString &reason);

private:
    void apply();

    QPointer<KeepAwakeLedger> m_ledger;
    QPointer<RuleStore> m_store;
    SessionRules::PowerSource m_source;
};
