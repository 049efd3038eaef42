#include "ApplicationSessionWatcher.h"

#include "OffMainThread.h"
#include "TimedSession.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSettings>

Q_LOGGING_CATEGORY(lcApplicationSession, "com.quorvel.WakoraApp.ApplicationSession")

namespace {

std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar"));
}

} // namespace

ApplicationSessionWatcher::ApplicationSessionWatcher(PowerToggling *power,
    std::shared_ptr<RunningApplicationReading> applications, std::chrono::milliseconds interval, QObject *parent)
    : QObject(parent)
    , m_power(power)
    , m_applications(std::move(applications))
{
    const auto stored = settings();
    m_rule.application = stored->value(applicationKey()).toString();
    const qint64 kinds = stored->value(kindsKey(), 1).toLongLong();
    m_rule.kinds = TimedSession::isValidKinds(kinds) ? kinds : 1;
    if (const auto entry
        = m_rule.application.isEmpty() ? std::nullopt : m_applications->desktopApplication(m_rule.application))
        m_name = entry->localizedName;
    connect(&m_timer, &QTimer::timeout, this, [this] { check(); });
    // Looked at only while a rule is set: with none, nothing wakes the agent.
    m_timer.setInterval(interval);
    if (!m_rule.application.isEmpty())
        m_timer.start();
}

QCoro::Task<std::optional<QString>> ApplicationSessionWatcher::setRule(QString idOrName, qint64 kinds)
{
    QPointer<ApplicationSessionWatcher> self(this);
    Rule rule;
    QString name;
    if (!idOrName.isEmpty()) {
        if (!TimedSession::isValidKinds(kinds))
            co_return TimedSession::invalidKinds();
        const auto entry = m_applications->desktopApplication(idOrName);
        if (!entry)
            co_return unknownApplication();
        rule = Rule{ entry->id, kinds };
        name = entry->localizedName;
    }
    const auto store = [rule]() -> std::optional<QString> {
        const auto stored = settings();
        stored->setValue(applicationKey(), rule.application);
        stored->setValue(kindsKey(), rule.kinds);
        stored->sync();
        if (stored->status() != QSettings::NoError)
            return QStringLiteral("Cannot store the rule in %1").arg(stored->fileName());
        return std::nullopt;
    };
    const std::optional<QString> failure = co_await offMainThread(store);
    if (!self)
        co_return QStringLiteral("The agent is ending");
    if (failure)
        co_return failure;
    // The old rule's session ends with it; the new one starts at the next look.
    const qint64 turnedOn = m_turnedOn;
    m_turnedOn = 0;
    m_running = false;
    m_rule = rule;
    m_name = name;
    if (m_rule.application.isEmpty())
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
    Q_EMIT ruleChanged();
    co_await turnOff(turnedOn);
    if (!self)
        co_return std::nullopt;
    co_await check();
    co_return std::nullopt;
}

QCoro::Task<> ApplicationSessionWatcher::check()
{
    const QPointer<PowerToggling> power = m_power;
    if (m_checking || m_rule.application.isEmpty() || !power)
        co_return;
    QPointer<ApplicationSessionWatcher> self(this);
    const bool running = !m_applications->processIds(m_rule.application).isEmpty();
    if (running == m_running)
        co_return;
    m_checking = true;
    m_running = running;
    if (running) {
        qCInfo(
            lcApplicationSession, "%s runs: keeping kinds %lld on", qUtf8Printable(m_rule.application), m_rule.kinds);
        for (const AssertionKind kind : allAssertionKinds) {
            if (!(m_rule.kinds & assertionBit(kind)) || !power || power->isAskedFor(kind))
                continue;
            const auto result = co_await power->setEnabled(true, kind);
            if (!self)
                co_return;
            if (result)
                m_turnedOn |= assertionBit(kind);
            else
                qCWarning(lcApplicationSession, "Cannot turn kind %lld on: %s", rawValue(kind),
                    qUtf8Printable(result.error()));
        }
    } else {
        const qint64 turnedOn = m_turnedOn;
        m_turnedOn = 0;
        co_await turnOff(turnedOn);
        if (!self)
            co_return;
        if (turnedOn != 0)
            Q_EMIT ended(QCoreApplication::translate("WakoraMenuBar", "%1이(가) 종료되어 잠자기 방지를 껐습니다.")
                             .arg(m_name.isEmpty() ? m_rule.application : m_name));
    }
    m_checking = false;
}

QCoro::Task<> ApplicationSessionWatcher::turnOff(qint64 kinds)
{
    QPointer<ApplicationSessionWatcher> self(this);
    for (const AssertionKind kind : allAssertionKinds) {
        const QPointer<PowerToggling> power = m_power;
        if (!(kinds & assertionBit(kind)) || !power || !power->isAskedFor(kind))
            continue;
        const auto result = co_await power->setEnabled(false, kind);
        if (!self)
            co_return;
        if (!result)
            qCWarning(
                lcApplicationSession, "Cannot turn kind %lld off: %s", rawValue(kind), qUtf8Printable(result.error()));
    }
}
