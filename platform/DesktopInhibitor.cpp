#include "DesktopInhibitor.h"

#include "InhibitorRegistries.h"

QString DesktopInhibitor::typeOf(bool suspend, bool idle)
{
    if (suspend && idle)
        return QStringLiteral("sleep:idle");
    if (suspend)
        return QStringLiteral("sleep");
    if (idle)
        return QStringLiteral("idle");
    return QString();
}

std::optional<QString> DesktopInhibitor::gnomeSessionType(uint flags)
{
    const QString type
        = typeOf(flags & InhibitorRegistries::gnomeSuspendFlag, flags & InhibitorRegistries::gnomeIdleFlag);
    return type.isEmpty() ? std::nullopt : std::optional(type);
}

QString DesktopInhibitor::kdeTypeInEffect(bool suspendHeld, bool screenHeld)
{
    // PowerDevil's screen policy holds off suspending too: it answers
    // HasInhibition(1) for an inhibition of the screen alone.
    return typeOf(suspendHeld || screenHeld, screenHeld);
}
