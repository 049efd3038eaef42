#include "HoldNotices.h"

#include "PowerToggling.h"

#include <QCoreApplication>

QStringList HoldNotices::of(const PowerToggling &power)
{
    QStringList notices;
    if (power.isWaiting(AssertionKind::systemSleep))
        notices.append(QCoreApplication::translate(
            "HoldNotices", "잠자기 방지를 맡아 줄 서비스가 없습니다. 서비스가 돌아오면 다시 켭니다."));
    if (power.isWaiting(AssertionKind::displaySleep))
        notices.append(QCoreApplication::translate(
            "HoldNotices", "디스플레이 켜 두기를 맡아 줄 서비스가 없습니다. 서비스가 돌아오면 다시 켭니다."));
    if (power.displayMayBlank())
        notices.append(QCoreApplication::translate("HoldNotices",
            "이 데스크톱은 화면을 끄기 전에 Wakora의 요청을 확인하지 않을 수 있어, 화면이 꺼질 수 있습니다."));
    return notices;
}
