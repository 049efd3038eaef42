#pragma once

#include "LidGuardRules.h"
#include "SessionRules.h"

#include <QCoroTask>
#include <QObject>

#include <optional>

// "Keep awake while this application runs": a desktop entry id (empty for
// no rule) and the kinds it keeps on, a bit set as on the bus.
struct ApplicationRule {
    QString application;
    qint64 kinds = 1;

    bool operator==(const ApplicationRule &) const = default;
};

// The agent's one store of the user's rules: the conditions on the power
// source, the application rule and the lid-closed mode's guards. They live in the agent's settings, so
// they outlast the agent; what is stored is what the agent applies. Main
// thread only; the file is written off it.
class RuleStore : public QObject
{
    Q_OBJECT

public:
    static QString applicationKey() { return QStringLiteral("whileApplication"); }
    static QString applicationKindsKey() { return QStringLiteral("whileApplicationKinds"); }

    // Reads what is stored; defaults where nothing (or nothing sensible) is.
    explicit RuleStore(QObject *parent = nullptr);

    const SessionRules &conditions() const { return m_conditions; }
    const ApplicationRule &applicationRule() const { return m_application; }
    const LidGuardRules &lidGuards() const { return m_lidGuards; }

    // Stores new rules; absent on success, else the text the requester is
    // shown. Nothing changes when they cannot be stored.
    QCoro::Task<std::optional<QString>> setConditions(SessionRules conditions);
    QCoro::Task<std::optional<QString>> setApplicationRule(ApplicationRule rule);
    QCoro::Task<std::optional<QString>> setLidGuards(LidGuardRules guards);

Q_SIGNALS:
    void conditionsChanged();
    void applicationRuleChanged();
    void lidGuardsChanged();

private:
    SessionRules m_conditions;
    ApplicationRule m_application;
    LidGuardRules m_lidGuards;
};
