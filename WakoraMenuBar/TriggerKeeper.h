#pragma once

#include "KeepAwakeLedger.h"
#include "RuleStore.h"
#include "Trigger.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <optional>

// Turns the triggers' activity into claims. A trigger watches while its rule
// is on and it can work on this desktop; while what it watches holds, the
// claim "trigger:<name>" asks the ledger for the rule's kinds (the trigger's
// own when the rule names none), about the trigger's subject, and waits out
// a veto like any standing order. It is withdrawn when the activity ends or
// the rule goes off. The user switching a kind off ends the claim until the
// trigger's next activation. Main thread only.
class TriggerKeeper : public QObject
{
    Q_OBJECT

public:
    static QString unknownTrigger() { return QStringLiteral("Unknown trigger"); }

    // Takes the triggers over (they become its children) and follows each
    // one's stored rule at once.
    TriggerKeeper(KeepAwakeLedger *ledger, RuleStore *store, QList<Trigger *> triggers, QObject *parent = nullptr);

    const QList<Trigger *> &triggers() const { return m_triggers; }
    Trigger *trigger(const QString &name) const;
    TriggerRule rule(const QString &name) const;
    // The kinds the trigger claims: the rule's, else its own.
    qint64 kinds(const QString &name) const;
    // Whether the trigger is watching now.
    bool isWatching(const QString &name) const { return m_states.value(name).started; }
    // Whether any trigger is set to watch: a standing order only a running
    // agent can carry out.
    bool hasStandingRule() const;

    // Checks and stores a rule; absent on success, else the requester's
    // text. The store's announcement then starts or stops the trigger.
    QCoro::Task<std::optional<QString>> setRule(QString name, TriggerRule rule);

Q_SIGNALS:
    // A rule, or what a trigger watches, changed.
    void changed();

private:
    struct State {
        bool started = false;
        QVariantMap options; // those the trigger was started with
        bool wasActive = false;
        bool cut = false; // the user ended the claim during this activation
        qint64 claimedKinds = 0; // the kinds last asked for
    };

    void follow(Trigger *trigger);
    void activityChanged(Trigger *trigger);
    void claimCut(const QString &owner);
    QCoro::Task<> claim(QPointer<Trigger> trigger);
    QCoro::Task<> release(QString name);

    QPointer<KeepAwakeLedger> m_ledger;
    QPointer<RuleStore> m_store;
    QList<Trigger *> m_triggers;
    QHash<QString, State> m_states;
};
