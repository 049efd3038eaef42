#include "DesktopInhibitor.h"

#include "InhibitorRegistries.h"

std::optional<QString> DesktopInhibitor::gnomeSessionType(uint flags)
{
    const bool suspend = flags & InhibitorRegistries::gnomeSuspendFlag;
    const bool idle = flags & InhibitorRegistries::gnomeIdleFlag;
    if (suspend && idle)
        return QStringLiteral("sleep:idle");
    if (suspend)
        return QStringLiteral("sleep");
    if (idle)
        return QStringLiteral("idle");
    return std::nullopt;
}
