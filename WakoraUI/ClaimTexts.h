#pragma once

#include "KeepAwakeLedger.h"

#include <QStringList>

// Why the machine is kept awake, or not, in the interface's words: a line
// per claim ("직접 켬", "타이머: 1시간 12분 남음", "vim 실행 중", "mpv에서
// 재생 중") and per
// veto in force ("배터리 20% 미만이라 꺼 둠"), claims first.
namespace ClaimTexts {

QString of(const Claim &claim, const QDateTime &now);
// A trigger's reason, without the kinds: "mpv에서 재생 중", "CPU 사용량이 많음".
QString triggerText(const QString &name, const QString &subject);
// The trigger's rule in the window's words: "미디어 재생 중", "일정".
QString triggerLabel(const QString &name);
QStringList of(const QList<Claim> &claims, const QStringList &vetoes, const QDateTime &now);

} // namespace ClaimTexts
