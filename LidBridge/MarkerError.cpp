#include "MarkerError.h"

#include <cstring>

QString systemErrorText(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

QString MarkerError::unsafeDirectory()
{
    return QStringLiteral("Unsafe marker directory");
}

QString MarkerError::cannotCreate(int errorNumber)
{
    return QStringLiteral("Cannot create marker: ") + systemErrorText(errorNumber);
}

QString MarkerError::cannotRemove(int errorNumber)
{
    return QStringLiteral("Cannot remove marker: ") + systemErrorText(errorNumber);
}
