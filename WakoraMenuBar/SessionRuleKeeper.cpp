#include "SessionRuleKeeper.h"

#include "OffMainThread.h"
#include "PowerSourceMonitor.h"

#include <QLoggingCategory>
#include <QSettings>

#include <algorithm>

Q_LOGGING_CATEGORY(lcRules, "com.quorvel.WakoraApp.SessionRules")

namespace {

std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar"));
}

} // namespace

SessionRuleKeeper::SessionRuleKeeper(PowerToggling *power, std::shared_ptr<PowerSourceMonitor> monitor, QObject *parent)
    : QObject(parent)
    , m_power(power)
    , m_monitor(std::move(monitor))
    , m_rules(storedRules())
{
    connect(m_monitor.get(), &PowerSourceMonitor::changed, this, [this] { apply(); });
    connect(power, &PowerToggling::didChange, this, [this] { apply(); });
}

SessionRules SessionRuleKeeper::storedRules()
{
    const auto stored = settings();
    SessionRules rules;
    rules.onlyOnAC = stored->value(SessionRules::onlyOnACKey(), false).toBool();
    bool isNumber = false;
    const int floor = stored->value(SessionRules::batteryFloorKey(), 0).toInt(&isNumber);
    // A hand-edited value that makes no sense is no rule rather than a wrong one.
    rules.batteryFloor = isNumber && SessionRules::isValidFloor(floor) ? floor : 0;
    return rules;
}

std::optional<QString> SessionRuleKeeper::brokenRule() const
{
    return m_monitor ? m_rules.broken(m_monitor->source()) : std::nullopt;
}

QCoro::Task<std::optional<QString>> SessionRuleKeeper::setRules(SessionRules rules)
{
    if (!SessionRules::isValidFloor(rules.batteryFloor))
        co_return SessionRules::invalidFloor();
    QPointer<SessionRuleKeeper> self(this);
    // Written and synced to disk off the main thread, which goes on serving.
    const auto store = [rules]() -> std::optional<QString> {
        const auto stored = settings();
        stored->setValue(SessionRules::onlyOnACKey(), rules.onlyOnAC);
        stored->setValue(SessionRules::batteryFloorKey(), rules.batteryFloor);
        stored->sync();
        if (stored->status() != QSettings::NoError)
            return QStringLiteral("Cannot store the rules in %1").arg(stored->fileName());
        return std::nullopt;
    };
    const std::optional<QString> failure = co_await offMainThread(store);
    if (!self)
        co_return QStringLiteral("The agent is ending");
    if (failure)
        co_return failure;
    m_rules = rules;
    Q_EMIT rulesChanged();
    co_await apply();
    co_return std::nullopt;
}

QCoro::Task<> SessionRuleKeeper::apply()
{
    const QPointer<PowerToggling> power = m_power;
    if (m_applying || !power || !m_monitor)
        co_return;
    const bool held = std::any_of(allAssertionKinds.cbegin(), allAssertionKinds.cend(),
        [&power](AssertionKind kind) { return power->isAskedFor(kind); });
    const std::optional<QString> reason = m_rules.broken(m_monitor->source());
    if (!held || !reason)
        co_return;

    QPointer<SessionRuleKeeper> self(this);
    m_applying = true;
    qCInfo(lcRules, "%s Turning everything off", qUtf8Printable(*reason));
    for (const AssertionKind kind : allAssertionKinds) {
        if (!power || !power->isAskedFor(kind))
            continue;
        const auto result = co_await power->setEnabled(false, kind);
        if (!self)
            co_return;
        if (!result)
            qCWarning(lcRules, "Cannot turn kind %lld off: %s", rawValue(kind), qUtf8Printable(result.error()));
    }
    m_applying = false;
    Q_EMIT ended(*reason);
}
