#pragma once

#include "IdleSettings.h"
#include "KConfigText.h"

#include <optional>

// PowerDevil's three profiles, named as its configuration groups are.
enum class PlasmaProfile { ac, battery, lowBattery };

// What Plasma 6's defaults depend on: it does not suspend on its own in a
// virtual machine or where the system cannot suspend, and Plasma Mobile has
// defaults of its own. Unknown facts leave a default unknown.
struct PlasmaMachine {
    std::optional<bool> canSuspend;
    std::optional<bool> virtualMachine;
    bool mobile = false;
};

namespace PlasmaIdleSettings {

QString profileGroup(PlasmaProfile profile);

// The profile PowerDevil loads: AC on mains power, LowBattery at or below
// its low battery level (powerdevilrc [BatteryManagement] BatteryLowLevel,
// 10 % unless set), Battery otherwise; unknown without the charge.
std::optional<PlasmaProfile> profileFor(
    bool onBattery, std::optional<double> batteryPercent, const KConfigText &powerdevilrc);

// Plasma 5 (powermanagementprofilesrc): the file holds every enabled action
// of a profile as a group of its own, so an absent group is a disabled one.
IdleSettings fromPlasma5(const KConfigText &profiles, PlasmaProfile profile);

// Plasma 6 (powerdevilrc): only changed values are written, so an absent
// key takes PowerDevil's default for the profile.
IdleSettings fromPlasma6(const KConfigText &powerdevilrc, PlasmaProfile profile, const PlasmaMachine &machine);

} // namespace PlasmaIdleSettings
