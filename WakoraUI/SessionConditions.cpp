#include "SessionConditions.h"

#include "ClaimTexts.h"

#include <QCoreApplication>
#include <QStringList>

QString SessionConditions::summary() const
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("WakoraUI", text); };
    QStringList parts;
    if (onlyOnAC)
        parts.append(tr("전원 연결 시에만"));
    if (batteryFloor > 0)
        parts.append(tr("배터리 %1% 미만이면 끔").arg(batteryFloor));
    if (!application.isEmpty())
        parts.append(tr("%1 실행 중 켬").arg(application));
    for (const TriggerRecord &trigger : triggers) {
        if (trigger.enabled && trigger.unavailable.isEmpty())
            parts.append(ClaimTexts::triggerLabel(trigger.name));
    }
    return parts.join(QStringLiteral(" · "));
}
