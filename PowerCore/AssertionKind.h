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

// The platform-neutral assertion type, e.g. "PreventUserIdleSystemSleep".
QString assertionType(AssertionKind kind);
// The name other programs see in their inhibitor lists.
QString assertionName(AssertionKind kind);
