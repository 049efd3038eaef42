#pragma once

#include "ScheduleRule.h"
#include "Trigger.h"

#include <QDateTime>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class SleepWatcher;
class WallClockWatcher;

// Keeps the machine awake on a weekly schedule ("mon-fri 09:00-18:00" in the
// option "schedule"), on the local clock. One timer wakes it at the next
// start or end and nothing else does, but for the moments the clock moves
// under that timer: the wall clock set (by hand, NTP, a zone change) and a
// resume from sleep, after which it reads the clock again. Main thread only.
class ScheduleTrigger final : public Trigger
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // Where it hears that the clock moved: the agent's own watchers of the
    // wall clock and of logind's resume, followed while the trigger
    // watches. Tests give neither and call clockMoved() themselves.
    struct Watch {
        WallClockWatcher *wallClock = nullptr;
        SleepWatcher *sleep = nullptr;
    };

    static QString optionKey() { return QStringLiteral("schedule"); }

    explicit ScheduleTrigger(Clock now, Watch watch, QObject *parent = nullptr);
    ~ScheduleTrigger() override;

    QString name() const override { return QStringLiteral("schedule"); }
    qint64 defaultKinds() const override;
    std::optional<QString> invalidOptions(const QVariantMap &options) const override;
    void start(const QVariantMap &options) override;
    void stop() override;

    // Reads the clock again: it was set, or the machine slept.
    void clockMoved();
    // How long until the timer wakes the trigger; absent when none is set.
    std::optional<std::chrono::milliseconds> wakeIn() const;

private:
    void evaluate();

    Clock m_now;
    Watch m_watch;
    std::optional<ScheduleRule> m_rule;
    QTimer m_timer;
    QMetaObject::Connection m_clockSet;
    QMetaObject::Connection m_resumed;
};
