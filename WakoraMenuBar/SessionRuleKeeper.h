#pragma once

#include "PowerToggling.h"
#include "SessionRules.h"

#include <QObject>
#include <QPointer>

#include <memory>

class PowerSourceMonitor;

// Holds the user's conditions for keeping the machine awake and applies
// them: whenever the power source or the held kinds change and a rule no
// longer holds, every held kind goes off (which also ends a timed session)
// and ended() says why. The rules live in the agent's settings, so they
// outlast the agent. Main thread only.
class SessionRuleKeeper : public QObject
{
    Q_OBJECT

public:
    SessionRuleKeeper(PowerToggling *power, std::shared_ptr<PowerSourceMonitor> monitor, QObject *parent = nullptr);

    const SessionRules &rules() const { return m_rules; }
    // The reason a rule forbids keeping the machine awake right now, if one does.
    std::optional<QString> brokenRule() const;
    // Stores and applies new rules; absent on success, else the text the
    // requester is shown. Nothing is stored when the rules are not valid.
    QCoro::Task<std::optional<QString>> setRules(SessionRules rules);

    // The rules as stored; defaults where nothing (or nothing sensible) is.
    static SessionRules storedRules();

Q_SIGNALS:
    void rulesChanged();
    // A rule stopped holding and the kinds were turned off; the reason in
    // the notice's words.
    void ended(const QString &reason);

private:
    QCoro::Task<> apply();

    QPointer<PowerToggling> m_power;
    std::shared_ptr<PowerSourceMonitor> m_monitor;
    SessionRules m_rules;
    bool m_applying = false;
};
