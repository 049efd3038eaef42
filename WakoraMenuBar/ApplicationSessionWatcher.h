#pragma once

#include "PowerToggling.h"
#include "RunningApplicationReading.h"
#include "TimedSession.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

// "Keep awake while this application runs": every few seconds the agent
// asks the running-application directory for the processes of one desktop
// entry. When the first one appears it turns the rule's kinds on; when the
// last one ends it turns off again what it turned on, and ended() says so.
// The rule lives in the agent's settings, so it outlasts the agent. Main
// thread only.
class ApplicationSessionWatcher : public QObject
{
    Q_OBJECT

public:
    // Often enough that a session follows the application within seconds;
    // rarely enough that reading /proc costs nothing to notice.
    static constexpr std::chrono::milliseconds defaultInterval{ 2'000 };

    struct Rule {
        QString application; // desktop entry id; empty for no rule
        qint64 kinds = 1; // bit set, as on the bus
        bool operator==(const Rule &) const = default;
    };

    static QString applicationKey() { return QStringLiteral("whileApplication"); }
    static QString kindsKey() { return QStringLiteral("whileApplicationKinds"); }
    static QString unknownApplication() { return QStringLiteral("Unknown application"); }

    ApplicationSessionWatcher(PowerToggling *power, std::shared_ptr<RunningApplicationReading> applications,
        std::chrono::milliseconds interval = defaultInterval, QObject *parent = nullptr);

    const Rule &rule() const { return m_rule; }
    // Stores a rule for the application an id or name stands for, or clears
    // it with an empty one; absent on success, else the requester's text.
    // What the old rule turned on goes off.
    QCoro::Task<std::optional<QString>> setRule(QString idOrName, qint64 kinds);
    // Whether the processes are looked at by the timer: only while a rule is set.
    bool isWatching() const { return m_timer.isActive(); }
    // One look at the processes; the timer runs it, tests may too.
    QCoro::Task<> check();

Q_SIGNALS:
    void ruleChanged();
    // The application ended and the kinds it kept on went off.
    void ended(const QString &reason);

private:
    QCoro::Task<> turnOff(qint64 kinds);

    QPointer<PowerToggling> m_power;
    std::shared_ptr<RunningApplicationReading> m_applications;
    Rule m_rule;
    QString m_name; // the entry's name, for the notice
    QTimer m_timer;
    bool m_running = false;
    bool m_checking = false;
    qint64 m_turnedOn = 0;
};
