#include "AssertionKind.h"

std::optional<AssertionKind> assertionKindFromRaw(qint64 raw)
{
    switch (raw) {
    case 0:
        return AssertionKind::systemSleep;
    case 1:
        return AssertionKind::displaySleep;
    default:
        return std::nullopt;
    }
}

QString assertionType(AssertionKind kind)
{
    switch (kind) {
    case AssertionKind::systemSleep:
        return QStringLiteral("PreventUserIdleSystemSleep");
    case AssertionKind::displaySleep:
        return QStringLiteral("PreventUserIdleDisplaySleep");
    }
    Q_UNREACHABLE();
}

QString assertionName(AssertionKind kind)
{
    switch (kind) {
    case AssertionKind::systemSleep:
        return QStringLiteral("Wakora: prevent system sleep");
    case AssertionKind::displaySleep:
        return QStringLiteral("Wakora: prevent display sleep");
    }
    Q_UNREACHABLE();
}
