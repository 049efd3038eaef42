#include "PowerController.h"

#include "PowerLogging.h"

#include <QCoreApplication>
#include <QThread>

PowerController::PowerController(std::shared_ptr<PowerControlling> control, Clock now, QObject *parent)
    : PowerToggling(parent)
    , m_control(std::move(control))
    , m_now(std::move(now))
{ }

qint32 PowerController::ownerPID() const
{
    return static_cast<qint32>(QCoreApplication::applicationPid());
}

QCoro::Task<Expected<void, QString>> PowerController::setEnabled(bool enabled, AssertionKind kind)
{
    const auto result = setEnabledNow(enabled, kind);
    if (!result)
        co_return Unexpected(result.error().errorDescription());
    co_return {};
}

Expected<void, PowerError> PowerController::setEnabledNow(bool enabled, AssertionKind kind)
{
    Q_ASSERT_X(QThread::currentThread() == thread(), "PowerController", "used off its thread");

    const auto held = m_assertions.constFind(kind);
    if (held == m_assertions.cend()) {
        if (!enabled)
            return {};
        const auto created = m_control->createAssertion(kind);
        if (!created)
            return Unexpected(created.error());
        m_assertions.insert(kind, created.value());
    } else {
        if (enabled)
            return {};
        const quint32 id = held.value();
        if (const auto released = m_control->releaseAssertion(id); !released) {
            // The entry stays, so the next disable retries the same identifier.
            qCCritical(lcPowerController, "Failed to release assertion %u: %s", id,
                qUtf8Printable(released.error().errorDescription()));
            return released;
        }
        m_assertions.remove(kind);
    }

    if (m_assertions.isEmpty())
        m_activeSince.reset();
    else if (!m_activeSince)
        m_activeSince = m_now();
    Q_EMIT didChange();
    return {};
}

void PowerController::releaseAll()
{
    for (const AssertionKind kind : allAssertionKinds)
        (void)setEnabledNow(false, kind); // a failure is logged; the next kind is still released
}
