#pragma once

#include "SessionRules.h"

#include <QString>

#include <optional>

// A thermal zone that has reached the first temperature at which the kernel
// starts slowing the machine down to cool it (its lowest passive trip point).
struct HotZone {
    QString zone; // "thermal_zone3"
    QString type; // what the zone measures, as the kernel names it: "x86_pkg_temp"
    double celsius = 0;
    double tripCelsius = 0;

    bool operator==(const HotZone &) const = default;
};

// The guards that give the lid-closed mode back when a closed laptop is at
// risk, and the decisions they make. Pure: the agent reads the lid, the
// power source and the temperatures, and carries the decisions out.
struct LidGuardRules {
    // The conditions on the power source (only on mains power, the battery
    // floor) end the lid-closed mode too.
    bool powerRules = true;
    // On battery, with the lid closed and no external display, the mode is
    // given back after this many minutes (a laptop in a bag); 0 for never.
    int bagMinutes = 10;
    // A thermal zone at its passive trip point gives the mode back while the lid is closed.
    bool thermal = true;

    bool operator==(const LidGuardRules &) const = default;

    // Keys in the agent's settings.
    static QString powerRulesKey() { return QStringLiteral("lidGuardPowerRules"); }
    static QString bagMinutesKey() { return QStringLiteral("lidGuardBagMinutes"); }
    static QString thermalKey() { return QStringLiteral("lidGuardThermal"); }

    // Up to four hours; longer would not protect a laptop in a bag.
    static bool isValidBagMinutes(int minutes) { return minutes >= 0 && minutes <= 240; }
    static QString invalidBagMinutes() { return QStringLiteral("Invalid minutes"); }

    // What the guards see now.
    struct Facts {
        bool lidClosed = false;
        bool docked = false; // an external display, or a dock
        SessionRules::PowerSource source;
    };

    // Why the mode must be given back at once because of the power source,
    // in the notice's words; absent while the conditions hold or do not apply.
    std::optional<QString> powerBreak(const SessionRules &conditions, const Facts &facts) const;
    // Whether the bag timer runs: on battery, lid closed, nothing docked.
    bool bagHolds(const Facts &facts) const;
    // Whether the temperatures are read: only while the lid is closed.
    bool watchesTemperature(const Facts &facts) const;

    // The notices' words.
    static QString bagReason(int minutes);
    static QString thermalReason(const HotZone &zone);
    // "전원 조건 적용 · 배터리로 닫힌 채 10분이면 끔 · 과열되면 끔"; "없음" when every guard is off.
    QString summary() const;
};
