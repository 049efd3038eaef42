#include "ScheduleTrigger.h"

#include "AssertionKind.h"
#include "SleepWatcher.h"
#include "WallClockWatcher.h"

#include <QLoggingCategory>

#include <algorithm>
#include <limits>

Q_LOGGING_CATEGORY(lcSchedule, "com.quorvel.WakoraApp.MenuBar.Schedule")

namespace {

QString scheduleText(const QVariantMap &options)
{
    return options.value(ScheduleTrigger::optionKey()).toString();
}

} // namespace

ScheduleTrigger::ScheduleTrigger(Clock now, Watch watch, QObject *parent)
    : Trigger(parent)
    , m_now(std::move(now))
    , m_watch(std::move(watch))
{
    m_timer.setSingleShot(true);
    // A coarse timer may be late by a twentieth of its wait, hours for an
    // edge days away.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ScheduleTrigger::evaluate);
}

ScheduleTrigger::~ScheduleTrigger() = default;

qint64 ScheduleTrigger::defaultKinds() const
{
    return assertionBit(AssertionKind::systemSleep);
}

std::optional<QString> ScheduleTrigger::invalidOptions(const QVariantMap &options) const
{
    const auto rule = ScheduleRule::parse(scheduleText(options));
    if (!rule)
        return rule.error();
    return std::nullopt;
}

void ScheduleTrigger::start(const QVariantMap &options)
{
    const auto rule = ScheduleRule::parse(scheduleText(options));
    if (!rule) {
        // Stored rules were checked; one that no longer reads holds nothing.
        qCWarning(lcSchedule, "Not following the schedule \"%s\": %s", qUtf8Printable(scheduleText(options)),
            qUtf8Printable(rule.error()));
        m_rule.reset();
        m_timer.stop();
        setActive(false);
        return;
    }
    m_rule = rule.value();
    if (m_watch.wallClock && !m_clockSet)
        m_clockSet = connect(m_watch.wallClock, &WallClockWatcher::clockSet, this, &ScheduleTrigger::clockMoved);
    if (m_watch.sleep && !m_resumed)
        m_resumed = connect(m_watch.sleep, &SleepWatcher::resumed, this, &ScheduleTrigger::clockMoved);
    evaluate();
}

void ScheduleTrigger::stop()
{
    m_timer.stop();
    m_rule.reset();
    disconnect(m_clockSet);
    disconnect(m_resumed);
    clearActive();
}

void ScheduleTrigger::clockMoved()
{
    if (m_rule)
        evaluate();
}

std::optional<std::chrono::milliseconds> ScheduleTrigger::wakeIn() const
{
    if (!m_timer.isActive())
        return std::nullopt;
    return m_timer.remainingTimeAsDuration();
}

void ScheduleTrigger::evaluate()
{
    if (!m_rule)
        return;
    const QDateTime now = m_now();
    const QDateTime next = m_rule->nextEdge(now);
    // A timer that ran a little ahead of the clock finds the same edge a
    // moment away and waits that moment.
    const qint64 wait = std::clamp<qint64>(now.msecsTo(next), 1, std::numeric_limits<int>::max());
    m_timer.start(std::chrono::milliseconds(wait));
    qCDebug(lcSchedule, "Next edge at %s", qUtf8Printable(next.toString(Qt::ISODate)));
    setActive(m_rule->contains(now), m_rule->summary());
}
