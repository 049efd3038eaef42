#include "RuleStore.h"

#include "OffMainThread.h"
#include "TimedSession.h"
#include "TriggerOptions.h"

#include <QPointer>
#include <QRegularExpression>
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

// Bad kinds read as the trigger's own, a flag that is no flag as off.
TriggerRule readTriggerRule(QSettings &stored)
{
    TriggerRule rule;
    const QVariant enabled = stored.value(QStringLiteral("enabled"), false);
    const QString flag = enabled.toString().trimmed().toLower();
    rule.enabled = enabled.typeId() == QMetaType::Bool ? enabled.toBool() : flag == u"true";
    bool isNumber = false;
    const qint64 kinds = stored.value(QStringLiteral("kinds"), 0).toLongLong(&isNumber);
    rule.kinds = isNumber && TimedSession::isValidKinds(kinds) ? kinds : 0;
    stored.beginGroup(QStringLiteral("options"));
    QVariantMap options;
    for (const QString &key : stored.childKeys())
        options.insert(key, stored.value(key));
    stored.endGroup();
    rule.options = TriggerOptions::fromStored(options);
    return rule;
}

} // namespace

bool RuleStore::isValidTriggerName(const QString &name)
{
    static const QRegularExpression word(QStringLiteral("^[a-z][a-z0-9-]{0,31}$"));
    return word.match(name).hasMatch();
}

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
    stored->beginGroup(QStringLiteral("trigger"));
    for (const QString &name : stored->childGroups()) {
        if (!isValidTriggerName(name))
            continue;
        stored->beginGroup(name);
        m_triggers.insert(name, readTriggerRule(*stored));
        stored->endGroup();
    }
    stored->endGroup();
}

TriggerRule RuleStore::triggerRule(const QString &name) const
{
    return m_triggers.value(name);
}

QCoro::Task<std::optional<QString>> RuleStore::setTriggerRule(QString name, TriggerRule rule)
{
    if (!isValidTriggerName(name))
        co_return QStringLiteral("Unknown trigger");
    if (rule.kinds != 0 && !TimedSession::isValidKinds(rule.kinds))
        co_return TimedSession::invalidKinds();
    // Options are words with texts or numbers, as a text store keeps them.
    static const QRegularExpression optionKey(QStringLiteral("^[a-z][A-Za-z0-9]{0,31}$"));
    QVariantMap texts;
    for (auto it = rule.options.cbegin(); it != rule.options.cend(); ++it) {
        const int type = it.value().typeId();
        const bool scalar = type == QMetaType::QString || type == QMetaType::Bool || type == QMetaType::Int
            || type == QMetaType::UInt || type == QMetaType::LongLong || type == QMetaType::ULongLong
            || type == QMetaType::Double || type == QMetaType::Short || type == QMetaType::UShort
            || type == QMetaType::UChar;
        if (!optionKey.match(it.key()).hasMatch() || !scalar)
            co_return QStringLiteral("Invalid options");
        texts.insert(it.key(), it.value().toString());
    }
    // As it reads back at the next start.
    rule.options = TriggerOptions::fromStored(texts);
    QPointer<RuleStore> self(this);
    const auto write = [name, rule](QSettings &stored) {
        stored.beginGroup(triggerGroup(name));
        stored.remove(QString()); // the options no longer set go with the old rule
        stored.setValue(QStringLiteral("enabled"), rule.enabled);
        stored.setValue(QStringLiteral("kinds"), rule.kinds);
        for (auto it = rule.options.cbegin(); it != rule.options.cend(); ++it)
            stored.setValue(QStringLiteral("options/") + it.key(), it.value());
        stored.endGroup();
    };
    const auto failure = co_await store(write);
    if (!self)
        co_return QStringLiteral("The agent is ending");
    if (failure)
        co_return failure;
    if (m_triggers.value(name) == rule && m_triggers.contains(name))
        co_return std::nullopt;
    m_triggers.insert(name, rule);
    Q_EMIT triggerRulesChanged(name);
    co_return std::nullopt;
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
