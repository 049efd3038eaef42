#pragma once

#include "PowerToggling.h"

#include <QPointer>

#include <optional>

// The agent's handling of the power requests: it turns them into calls of
// its PowerToggling. Used on the main thread only.
class MenuBarRequests
{
public:
    struct State {
        // assertionBit() per held kind, waitingBit() per waiting one, and displayMayBlankBit
        qint64 assertions = 0;
        double activeSince = 0; // seconds since 1970, 0 when idle

        bool operator==(const State &) const = default;
    };

    explicit MenuBarRequests(PowerToggling *power);

    State state() const;
    // Absent on success, otherwise the text the requester is shown.
    QCoro::Task<std::optional<QString>> setAssertion(qint64 kind, bool enabled);

private:
    QPointer<PowerToggling> m_power;
};
