#pragma once

#include "LidGuardRules.h"
#include "TriggerRecord.h"

#include <QString>

// The agent's standing conditions as the window shows and edits them: keep
// awake only on mains power, stop below a battery level, keep awake while an
// application runs, the guards of the lid-closed mode, and the triggers the
// agent offers (each one's rule, and whether it can work here).
struct SessionConditions {
    bool onlyOnAC = false;
    int batteryFloor = 0; // percent, 0 for none
    QString application; // a desktop entry id, empty for none
    bool applicationKeepsDisplay = false; // the display too while it runs
    LidGuardRules lidGuards;
    QList<TriggerRecord> triggers;

    // One line for the window, "" when no condition is set (the lid's
    // guards are on by default, and shown with the lid-closed switch):
    // "전원 연결 시에만 · 배터리 20% 미만이면 끔 · org.gnome.Totem 실행 중 켬 ·
    // 미디어 재생 중".
    QString summary() const;

    bool operator==(const SessionConditions &) const = default;
};
