#include "PowerController.h"

#include "PowerLogging.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <cerrno>

PowerController::PowerController(std::shared_ptr<PowerControlling> control, Clock now, QObject *parent)
    : PowerToggling(parent)
    , m_control(std::move(control))
    , m_now(std::move(now))
{
    QPointer<PowerController> self(this);
    m_control->setLossHandler([self](quint32 id) {
        if (self)
            self->assertionLost(id);
    });
    m_control->setHoldHandler([self](quint32 id, bool held) {
        if (self)
            self->holdChanged(id, held);
    });
}

qint32 PowerController::ownerPID() const
{
    return static_cast<qint32>(QCoreApplication::applicationPid());
}

QCoro::Task<Expected<void, QString>> PowerController::setEnabled(bool enabled, AssertionKind kind)
{
    const auto result = co_await toggle(enabled, kind);
    if (!result)
        co_return Unexpected(result.error().errorDescription());
    co_return {};
}

QCoro::Task<Expected<void, PowerError>> PowerController::toggle(bool enabled, AssertionKind kind)
{
    Q_ASSERT_X(QThread::currentThread() == thread(), "PowerController", "used off its thread");
    QPointer<PowerController> self(this);
    const std::shared_ptr<PowerControlling> control = m_control;
    const auto gone = [enabled] {
        return Unexpected(
            enabled ? PowerError::assertionCreateFailed(-ECANCELED) : PowerError::assertionReleaseFailed(-ECANCELED));
    };

    const TurnQueue::Turn turn = co_await m_turns.at(size_t(kind)).next();
    if (!self)
        co_return gone();

    const auto held = m_assertions.constFind(kind);
    if (held != m_assertions.cend() && enabled && m_unheld.contains(kind)) {
        // Asked for before, but nothing holds it: ask the services again now
        // rather than answer success over nothing.
        const quint32 waiting = held.value();
        const auto created = co_await control->createAssertion(kind);
        if (!self)
            co_return gone();
        if (!created)
            co_return Unexpected(created.error());
        (void)co_await control->releaseAssertion(waiting); // held by nobody: nothing to refuse
        if (!self)
            co_return gone();
        m_assertions.insert(kind, created.value());
        m_unheld.remove(kind);
    } else if (held == m_assertions.cend()) {
        if (!enabled)
            co_return {};
        const auto created = co_await control->createAssertion(kind);
        if (!self)
            co_return gone(); // the control gives back what it holds as it goes
        if (!created)
            co_return Unexpected(created.error());
        m_assertions.insert(kind, created.value());
    } else {
        if (enabled)
            co_return {};
        const quint32 id = held.value();
        const auto released = co_await control->releaseAssertion(id);
        if (!self)
            co_return gone();
        if (!released) {
            // The entry stays, so the next disable retries the same identifier.
            qCCritical(lcPowerController, "Failed to release assertion %u: %s", id,
                qUtf8Printable(released.error().errorDescription()));
            co_return released;
        }
        if (m_assertions.value(kind) != id)
            co_return {}; // lost while it was being released, and announced then
        m_assertions.remove(kind);
        m_unheld.remove(kind);
    }

    updateActiveSince();
    Q_EMIT didChange();
    co_return {};
}

QCoro::Task<> PowerController::releaseAll()
{
    QPointer<PowerController> self(this);
    for (const AssertionKind kind : allAssertionKinds) {
        (void)co_await toggle(false, kind); // a failure is logged; the next kind is still released
        if (!self)
            co_return;
    }
}

void PowerController::assertionLost(quint32 id)
{
    for (auto entry = m_assertions.begin(); entry != m_assertions.end(); ++entry) {
        if (entry.value() != id)
            continue;
        qCWarning(lcPowerController, "Assertion %u (%s) ended without being released; the kind is off", id,
            qUtf8Printable(assertionType(entry.key())));
        m_unheld.remove(entry.key());
        m_assertions.erase(entry);
        updateActiveSince();
        Q_EMIT didChange();
        return;
    }
}

void PowerController::holdChanged(quint32 id, bool held)
{
    std::optional<AssertionKind> kind;
    for (auto entry = m_assertions.cbegin(); entry != m_assertions.cend(); ++entry) {
        if (entry.value() == id)
            kind = entry.key();
    }
    if (!kind || m_unheld.contains(*kind) == !held)
        return;
    if (held) {
        qCInfo(lcPowerController, "Assertion %u (%s) is held again", id, qUtf8Printable(assertionType(*kind)));
        m_unheld.remove(*kind);
    } else {
        qCWarning(lcPowerController, "Assertion %u (%s) is not held by any service; waiting for one", id,
            qUtf8Printable(assertionType(*kind)));
        m_unheld.insert(*kind);
    }
    updateActiveSince();
    Q_EMIT didChange();
}

bool PowerController::displayMayBlank() const
{
    return isEnabled(AssertionKind::displaySleep) && m_blankingCheck
        && m_blankingCheck(m_assertions.value(AssertionKind::displaySleep));
}

void PowerController::setAsleep(bool asleep)
{
    if (asleep == m_asleep)
        return;
    m_asleep = asleep;
    const std::optional<QDateTime> before = m_activeSince;
    updateActiveSince();
    if (m_activeSince != before)
        Q_EMIT didChange();
}

void PowerController::updateActiveSince()
{
    if (m_asleep || m_assertions.size() == m_unheld.size())
        m_activeSince.reset();
    else if (!m_activeSince)
        m_activeSince = m_now();
}
