#pragma once

#include "KeepAwakeLedger.h"
#include "PowerToggling.h"

#include <QPointer>

// The user's switch as interface code sees it: it reads what the power
// controller holds, and a toggle is the switch's word to the ledger (on: a
// claim of its own; off: every claim on the kind ends). Main thread only.
class LedgerSwitch : public PowerToggling
{
    Q_OBJECT

public:
    LedgerSwitch(PowerToggling *power, KeepAwakeLedger *ledger, QObject *parent = nullptr);

    bool isAvailable() const override { return m_power && m_power->isAvailable(); }
    qint32 ownerPID() const override { return m_power ? m_power->ownerPID() : 0; }
    std::optional<QDateTime> activeSince() const override { return m_power ? m_power->activeSince() : std::nullopt; }
    bool isEnabled(AssertionKind kind) const override { return m_power && m_power->isEnabled(kind); }
    bool isWaiting(AssertionKind kind) const override { return m_power && m_power->isWaiting(kind); }
    bool displayMayBlank() const override { return m_power && m_power->displayMayBlank(); }
    QCoro::Task<Expected<void, QString>> setEnabled(bool enabled, AssertionKind kind) override;
    void reconnect() override { }

private:
    QPointer<PowerToggling> m_power;
    QPointer<KeepAwakeLedger> m_ledger;
};
