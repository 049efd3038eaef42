#include "LedgerSwitch.h"

LedgerSwitch::LedgerSwitch(PowerToggling *power, KeepAwakeLedger *ledger, QObject *parent)
    : PowerToggling(parent)
    , m_power(power)
    , m_ledger(ledger)
{
    connect(power, &PowerToggling::didChange, this, &PowerToggling::didChange);
}

QCoro::Task<Expected<void, QString>> LedgerSwitch::setEnabled(bool enabled, AssertionKind kind)
{
    const QPointer<KeepAwakeLedger> ledger = m_ledger;
    if (!ledger)
        co_return Unexpected(QStringLiteral("The agent is ending"));
    const std::optional<QString> failure = co_await ledger->setSwitch(kind, enabled);
    if (failure)
        co_return Unexpected(*failure);
    co_return {};
}
