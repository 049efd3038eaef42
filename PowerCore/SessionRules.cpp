#include "SessionRules.h"

#include <QCoreApplication>

std::optional<QString> SessionRules::broken(const PowerSource &source) const
{
    if (!source.onBattery)
        return std::nullopt;
    if (onlyOnAC)
        return QCoreApplication::translate("PowerCore", "전원 어댑터가 분리되었습니다.");
    // An unknown level breaks nothing: the rule is about a level we know.
    if (batteryFloor > 0 && source.percentage && *source.percentage < batteryFloor)
        return QCoreApplication::translate("PowerCore", "배터리가 %1% 아래로 내려갔습니다.").arg(batteryFloor);
    return std::nullopt;
}

std::optional<QString> SessionRules::vetoText(const PowerSource &source) const
{
    if (!broken(source))
        return std::nullopt;
    if (onlyOnAC)
        return QCoreApplication::translate("PowerCore", "전원 어댑터가 분리되어 꺼 둠");
    return QCoreApplication::translate("PowerCore", "배터리 %1% 미만이라 꺼 둠").arg(batteryFloor);
}
