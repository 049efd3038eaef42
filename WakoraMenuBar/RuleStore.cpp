#include "RuleStore.h"

#include "OffMainThread.h"
#include "TimedSession.h"

#include <QPointer>
#include <QSettings>

#include <memory>

namespace {

std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar"));
}

// Written and synced to disk off the main thread, which goes on serving.
template <typename Write> QCoro::Task<std::optional<QString>> store(Write write)
{
    const auto work = [write]() -> std::optional<QString> {
        const auto stored = settings();
        write(*stored);
        stored->sync();
        if (stored->status() != QSettings::NoError)
            return QStringLiteral("Cannot store the rules in %1").arg(stored->fileName());
        return std::nullopt;
    };
    co_return co_await offMainThread(work);
}

} // namespace

RuleStore::RuleStore(QObject *parent)
    : QObject(parent)
{
    const auto stored = settings();
    m_conditions.onlyOnAC = stored->value(SessionRules::onlyOnACKey(), false).toBool();
    bool isNumber = false;
    const int floor = stored->value(SessionRules::batteryFloorKey(), 0).toInt(&isNumber);
    // A hand-edited value that makes no sense is no rule rather than a wrong one.
    m_conditions.batteryFloor = isNumber && SessionRules::isValidFloor(floor) ? floor : 0;
    m_application.application = stored->value(applicationKey()).toString();
    const qint64 kinds = stored->value(applicationKindsKey(), 1).toLongLong();
    m_application.kinds = TimedSession::isValidKinds(kinds) ? kinds : 1;
    const LidGuardRules defaults;
    m_lidGuards.powerRules = stored->value(LidGuardRules::powerRulesKey(), defaults.powerRules).toBool();
    const int minutes = stored->value(LidGuardRules::bagMinutesKey(), defaults.bagMinutes).toInt(&isNumber);
    m_lidGuards.bagMinutes = isNumber && LidGuardRules::isValidBagMinutes(minutes) ? minutes : defaults.bagMinutes;
    m_lidGuards.thermal = stored->value(LidGuardRules::thermalKey(), defaults.thermal).toBool();
}

QCoro::Task<std::optional<QString>> RuleStore::setConditions(SessionRules conditions)
{
    if (!SessionRules::isValidFloor(conditions.batteryFloor))
        co_return SessionRules::invalidFloor();
    QPointer<RuleStore> self(this);
    const auto write = [conditions](QSettings &stored) {
        stored.setValue(SessionRules::onlyOnACKey(), conditions.onlyOnAC);
        stored.setValue(SessionRules::batteryFloorKey(), conditions.batteryFloor);
    };
    const auto failure = co_await store(write);
    if (!self)
        co_return QStringLiteral("The agent is ending");
    if (failure)
        co_return failure;
    m_conditions = conditions;
    Q_EMIT conditionsChanged();
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> RuleStore::setApplicationRule(ApplicationRule rule)
{
    if (!rule.application.isEmpty() && !TimedSession::isValidKinds(rule.kinds))
        co_return TimedSession::invalidKinds();
    QPointer<RuleStore> self(this);
    const auto write = [rule](QSettings &stored) {
        stored.setValue(applicationKey(), rule.application);
        stored.setValue(applicationKindsKey(), rule.kinds);
    };
    const auto failure = co_await store(write);
    if (!self)
        co_return QStringLiteral("The agent is ending");
    if (failure)
        co_return failure;
    m_application = rule;
    Q_EMIT applicationRuleChanged();
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> RuleStore::setLidGuards(LidGuardRules guards)
{
    if (!LidGuardRules::isValidBagMinutes(guards.bagMinutes))
        co_return LidGuardRules::invalidBagMinutes();
    QPointer<RuleStore> self(this);
    const auto write = [guards](QSettings &stored) {
        stored.setValue(LidGuardRules::powerRulesKey(), guards.powerRules);
        stored.setValue(LidGuardRules::bagMinutesKey(), guards.bagMinutes);
        stored.setValue(LidGuardRules::thermalKey(), guards.thermal);
    };
    const auto failure = co_await store(write);
    if (!self)
        co_return QStringLiteral("The agent is ending");
    if (failure)
        co_return failure;
    m_lidGuards = guards;
    Q_EMIT lidGuardsChanged();
    co_return std::nullopt;
}
