#include "PowerStatusError.h"

QString PowerStatusError::errorDescription() const
{
    switch (which) {
    case Case::assertionQueryFailed:
        return QStringLiteral("assertionQueryFailed(code: %1)").arg(code);
    case Case::pmsetLaunchFailed:
        return QStringLiteral("pmsetLaunchFailed(\"%1\")").arg(message);
    case Case::pmsetFailed:
        return QStringLiteral("pmsetFailed(status: %1)").arg(code);
    }
    Q_UNREACHABLE();
}
