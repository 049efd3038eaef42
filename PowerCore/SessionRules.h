#pragma once

#include "Expected.h"

#include <QString>

#include <optional>

// The conditions the user sets for keeping the machine awake at all: only
// on mains power, and not below a battery level. While one of them does not
// hold, nothing keeps the machine awake.
// Pure: the agent reads the power source and stores the rules.
class SessionRules
{
public:
    // What the power source says now; absent where it cannot say.
    struct PowerSource {
        bool onBattery = false;
        std::optional<double> percentage;
    };

    bool onlyOnAC = false;
    int batteryFloor = 0; // percent; 0 for none

    bool operator==(const SessionRules &) const = default;

    // Keys in the agent's settings.
    static QString onlyOnACKey() { return QStringLiteral("onlyOnAC"); }
    static QString batteryFloorKey() { return QStringLiteral("batteryFloor"); }

    // A floor of 0 (none) to 99 percent; 100 would never hold on battery.
    static bool isValidFloor(int percent) { return percent >= 0 && percent <= 99; }
    static QString invalidFloor() { return QStringLiteral("Invalid battery level"); }

    // Why the machine may not be kept awake now, in the words of the notice;
    // absent while every rule holds. On mains power no rule is broken.
    std::optional<QString> broken(const PowerSource &source) const;
    // The same as a standing reason, for the list of what holds the machine
    // awake or not: "배터리 20% 미만이라 꺼 둠".
    std::optional<QString> vetoText(const PowerSource &source) const;
};
