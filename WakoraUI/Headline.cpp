#include "Headline.h"

#include "DurationText.h"

#include <QCoreApplication>

#include <algorithm>

Headline Headline::of(bool isAwake, const std::optional<QDateTime> &since, const QDateTime &now)
{
    if (!isAwake)
        return { QCoreApplication::translate("WakoraUI", "Mac이 평소대로 잠듭니다"), std::nullopt,
            QStringLiteral("moon.zzz") };

    const QString title = QCoreApplication::translate("WakoraUI", "Mac이 깨어 있습니다");
    if (!since || !since->isValid())
        return { title, std::nullopt, QStringLiteral("sun.max") };
    // A start "in the future" (the clock was set back) still reads one minute.
    const double elapsed = std::max<double>(60, since->msecsTo(now) / 1000.0);
    return { title, QCoreApplication::translate("WakoraUI", "%1째").arg(DurationText::hoursAndMinutes(elapsed)),
        QStringLiteral("sun.max") };
}
