#include "ClaimTexts.h"

#include "DurationText.h"

#include <QCoreApplication>

namespace ClaimTexts {

QString triggerLabel(const QString &name)
{
    if (name == u"media")
        return QCoreApplication::translate("WakoraUI", "미디어 재생 중");
    if (name == u"fullscreen")
        return QCoreApplication::translate("WakoraUI", "전체 화면 앱이 있을 때");
    if (name == u"remote")
        return QCoreApplication::translate("WakoraUI", "원격 로그인 중");
    if (name == u"busy")
        return QCoreApplication::translate("WakoraUI", "바쁠 때 (네트워크·CPU)");
    if (name == u"schedule")
        return QCoreApplication::translate("WakoraUI", "일정");
    return name;
}

QString triggerText(const QString &name, const QString &subject)
{
    if (name == u"media")
        return QCoreApplication::translate("WakoraUI", "%1에서 재생 중").arg(subject);
    if (name == u"fullscreen")
        return QCoreApplication::translate("WakoraUI", "전체 화면: %1").arg(subject);
    if (name == u"remote")
        return QCoreApplication::translate("WakoraUI", "원격 로그인: %1").arg(subject);
    if (name == u"busy")
        return QCoreApplication::translate("WakoraUI", "%1 사용량이 많음").arg(subject);
    if (name == u"schedule")
        return QCoreApplication::translate("WakoraUI", "일정: %1").arg(subject);
    // A trigger this program does not know yet says what it is about itself.
    return subject.isEmpty() ? name : subject;
}

QString of(const Claim &claim, const QDateTime &now)
{
    QString text;
    if (claim.owner == Claim::manualOwner()) {
        text = QCoreApplication::translate("WakoraUI", "직접 켬");
    } else if (claim.owner == Claim::timerOwner()) {
        const qint64 left = claim.endsAt ? (now.msecsTo(*claim.endsAt) + 999) / 1000 : 0;
        text = QCoreApplication::translate("WakoraUI", "타이머: %1").arg(DurationText::remaining(left));
    } else if (claim.owner == Claim::applicationOwner() || claim.isHold()) {
        text = QCoreApplication::translate("WakoraUI", "%1 실행 중").arg(claim.subject);
    } else if (claim.isTrigger()) {
        text = triggerText(claim.triggerName(), claim.subject);
    } else {
        text = claim.subject.isEmpty() ? claim.owner : claim.subject;
    }
    const bool system = claim.kinds & assertionBit(AssertionKind::systemSleep);
    const bool display = claim.kinds & assertionBit(AssertionKind::displaySleep);
    if (display && system)
        text += QCoreApplication::translate("WakoraUI", " (디스플레이 포함)");
    else if (display)
        text += QCoreApplication::translate("WakoraUI", " (디스플레이)");
    return text;
}

QStringList of(const QList<Claim> &claims, const QStringList &vetoes, const QDateTime &now)
{
    QStringList lines;
    for (const Claim &claim : claims)
        lines.append(of(claim, now));
    lines += vetoes;
    return lines;
}

} // namespace ClaimTexts
