#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

// The two idle-sleep assertions Wakora holds, always taken in this order.
// Between processes a set of kinds is a bit set with bit (1 << raw value).
enum class AssertionKind : qint64 {
    systemSleep = 0,
    displaySleep = 1,
};

inline constexpr std::array<AssertionKind, 2> allAssertionKinds
    = { AssertionKind::systemSleep, AssertionKind::displaySleep };

std::optional<AssertionKind> assertionKindFromRaw(qint64 raw);

constexpr qint64 rawValue(AssertionKind kind)
{
    return static_cast<qint64>(kind);
}

constexpr qint64 assertionBit(AssertionKind kind)
{
    return qint64(1) << rawValue(kind);
}

// In the agent's state, beside the held kinds: a kind asked for that no
// service holds now (4 system sleep, 8 display sleep).
constexpr qint64 waitingBit(AssertionKind kind)
{
    return assertionBit(kind) << allAssertionKinds.size();
}

// In the agent's state: the display kind is held by a service that the
// desktop may not consult before it blanks the screen (16).
inline constexpr qint64 displayMayBlankBit = qint64(1) << (2 * allAssertionKinds.size());

// The platform-neutral assertion type, e.g. "PreventUserIdleSystemSleep".
QString assertionType(AssertionKind kind);
// The name other programs see in their inhibitor lists.
QString assertionName(AssertionKind kind);
