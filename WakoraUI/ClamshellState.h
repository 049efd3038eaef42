#pragma once

#include <QtGlobal>

#include <optional>

// Whether the helper can be used at all. Which value a service reports is
// the service's business.
enum class ClamshellApproval {
    enabled, // registered and usable
    requiresApproval, // the user must allow it first
    notRegistered, // not registered, or not answering
    notFound, // cannot be found
};

// Whether the lid-closed setting is on, and whose it is. Raw values match
// the helper's ClamshellMode.
enum class ClamshellActivation : qint64 {
    off = 0,
    ownedByApp = 1,
    onOutsideApp = 2,
};

std::optional<ClamshellActivation> clamshellActivationFromRaw(qint64 raw);

constexpr qint64 rawValue(ClamshellActivation activation)
{
    return static_cast<qint64>(activation);
}

struct ClamshellState {
    ClamshellApproval approval = ClamshellApproval::notRegistered;
    ClamshellActivation activation = ClamshellActivation::off;

    bool operator==(const ClamshellState &) const = default;
};
