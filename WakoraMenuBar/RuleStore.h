#pragma once

#include "LidGuardRules.h"
#include "SessionRules.h"
#include "Trigger.h"

#include <QCoroTask>
#include <QHash>
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
// source, the application rule, the lid-closed mode's guards and a rule per
// trigger ("trigger/<name>/enabled", ".../kinds", ".../options/<key>"). They live in the agent's settings, so
// they outlast the agent; what is stored is what the agent applies. Main
// thread only; the file is written off it.
class RuleStore : public QObject
{
    Q_OBJECT

public:
    static QString applicationKey() { return QStringLiteral("whileApplication"); }
    static QString applicationKindsKey() { return QStringLiteral("whileApplicationKinds"); }
    static QString triggerGroup(const QString &name) { return QStringLiteral("trigger/") + name; }
    // A trigger's name as stored: a word of its own, never a path.
    static bool isValidTriggerName(const QString &name);

    // Reads what is stored; defaults where nothing (or nothing sensible) is.
    explicit RuleStore(QObject *parent = nullptr);

    const SessionRules &conditions() const { return m_conditions; }
    const ApplicationRule &applicationRule() const { return m_application; }
    const LidGuardRules &lidGuards() const { return m_lidGuards; }
    // The trigger's rule; off, with its own kinds and no options, when none
    // is stored (or nothing sensible is).
    TriggerRule triggerRule(const QString &name) const;

    // Stores new rules; absent on success, else the text the requester is
    // shown. Nothing changes when they cannot be stored.
    QCoro::Task<std::optional<QString>> setConditions(SessionRules conditions);
    QCoro::Task<std::optional<QString>> setApplicationRule(ApplicationRule rule);
    QCoro::Task<std::optional<QString>> setLidGuards(LidGuardRules guards);
    // Kinds are 0 (the trigger's own) or 1 to 3. The trigger's own word on
    // the options is its keeper's to ask before.
    QCoro::Task<std::optional<QString>> setTriggerRule(QString name, TriggerRule rule);

Q_SIGNALS:
    void conditionsChanged();
    void applicationRuleChanged();
    void lidGuardsChanged();
    void triggerRulesChanged(const QString &name);

private:
    SessionRules m_conditions;
    ApplicationRule m_application;
    LidGuardRules m_lidGuards;
    QHash<QString, TriggerRule> m_triggers; // as stored
};
