#include "PowerError.h"

QString PowerError::errorDescription() const
{
    const QString name = which == Case::assertionCreateFailed ? QStringLiteral("assertionCreateFailed")
                                                              : QStringLiteral("assertionReleaseFailed");
    return name + QStringLiteral("(code: ") + QString::number(code) + QLatin1Char(')');
}
