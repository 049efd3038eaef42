#include "MenuBarRequests.h"

MenuBarRequests::MenuBarRequests(PowerToggling *power)
    : m_power(power)
{ }

MenuBarRequests::State MenuBarRequests::state() const
{
    State state;
    if (!m_power)
        return state;
    for (const AssertionKind kind : allAssertionKinds) {
        if (m_power->isEnabled(kind))
            state.assertions |= assertionBit(kind);
        else if (m_power->isWaiting(kind))
            state.assertions |= waitingBit(kind);
    }
    if (m_power->displayMayBlank())
        state.assertions |= displayMayBlankBit;
    if (const auto since = m_power->activeSince())
        state.activeSince = double(since->toMSecsSinceEpoch()) / 1000.0;
    return state;
}

QCoro::Task<std::optional<QString>> MenuBarRequests::setAssertion(qint64 kind, bool enabled)
{
    const auto known = assertionKindFromRaw(kind);
    if (!known)
        co_return QStringLiteral("Invalid kind");
    QPointer<PowerToggling> power = m_power;
    if (!power)
        co_return QStringLiteral("Power controller unavailable"); // only while the agent shuts down
    const auto result = co_await power->setEnabled(enabled, *known);
    if (!result)
        co_return result.error();
    co_return std::nullopt;
}
