#include "LidGuardRules.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PowerCore", text);
}

} // namespace

std::optional<QString> LidGuardRules::powerBreak(const SessionRules &conditions, const Facts &facts) const
{
    if (!powerRules)
        return std::nullopt;
    return conditions.broken(facts.source);
}

bool LidGuardRules::bagHolds(const Facts &facts) const
{
    return bagMinutes > 0 && facts.lidClosed && !facts.docked && facts.source.onBattery;
}

bool LidGuardRules::watchesTemperature(const Facts &facts) const
{
    return thermal && facts.lidClosed;
}

QString LidGuardRules::bagReason(int minutes)
{
    return tr("배터리로 덮개를 닫은 채 외부 디스플레이 없이 %1분이 지났습니다.").arg(minutes);
}

QString LidGuardRules::thermalReason(const HotZone &zone)
{
    const QString name = zone.type.isEmpty() ? zone.zone : zone.type;
    return tr("%1의 온도가 %2°C로, 냉각을 위해 성능을 낮추는 온도(%3°C)에 이르렀습니다.")
        .arg(name, QString::number(zone.celsius, 'f', 1), QString::number(zone.tripCelsius, 'f', 1));
}

QString LidGuardRules::summary() const
{
    QStringList parts;
    if (powerRules)
        parts.append(tr("전원 조건 적용"));
    if (bagMinutes > 0)
        parts.append(tr("배터리로 닫힌 채 %1분이면 끔").arg(bagMinutes));
    if (thermal)
        parts.append(tr("과열되면 끔"));
    return parts.isEmpty() ? tr("없음") : parts.join(QStringLiteral(" · "));
}
