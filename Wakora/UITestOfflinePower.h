#pragma once

#include "PowerToggling.h"

// The fixture mode's agent that is not running: unavailable, nothing held,
// no start time, toggles ignored (and refused, as the real client refuses
// them while it cannot reach the agent).
class UITestOfflinePower : public PowerToggling
{
    Q_OBJECT

public:
    using PowerToggling::PowerToggling;

    bool isAvailable() const override { return false; }
    qint32 ownerPID() const override { return 0; }
    std::optional<QDateTime> activeSince() const override { return std::nullopt; }
    bool isEnabled(AssertionKind) const override { return false; }
    QCoro::Task<Expected<void, QString>> setEnabled(bool enabled, AssertionKind kind) override;
    void reconnect() override { }
};
