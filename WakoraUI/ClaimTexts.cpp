#include "ClaimTexts.h"

#include "DurationText.h"

#include <QCoreApplication>

namespace ClaimTexts {

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
    } else {
        // A trigger says what it is about itself.
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
