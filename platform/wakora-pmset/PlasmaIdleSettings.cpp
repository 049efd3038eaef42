#include "PlasmaIdleSettings.h"

#include <cmath>

namespace {

// Plasma's actions that put the machine to sleep: sleep, hibernate and
// hybrid sleep (PowerDevil's PowerButtonAction values 1, 2 and 4).
bool sleeps(qint64 action)
{
    return action == 1 || action == 2 || action == 4;
}

// KConfig's readEntry<int>: a value that is not a number reads as the default.
qint64 integer(const std::optional<QString> &text, qint64 fallback)
{
    bool ok = false;
    const qint64 number = text ? text->trimmed().toLongLong(&ok) : 0;
    return ok ? number : fallback;
}

std::optional<qint64> integer(const std::optional<QString> &text)
{
    bool ok = false;
    const qint64 number = text ? text->trimmed().toLongLong(&ok) : 0;
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

// KConfig's readEntry<bool>.
std::optional<bool> boolean(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    const QString value = text->trimmed().toLower();
    if (value == u"true" || value == u"on" || value == u"yes" || value == u"1")
        return true;
    if (value == u"false" || value == u"off" || value == u"no" || value == u"0")
        return false;
    return std::nullopt;
}

// PowerDevil 6's desktop defaults (powerdevilsettingsdefaults.cpp), seconds.
qint64 defaultSuspendSeconds(PlasmaProfile profile)
{
    switch (profile) {
    case PlasmaProfile::ac:
        return 900;
    case PlasmaProfile::battery:
        return 600;
    case PlasmaProfile::lowBattery:
        return 300;
    }
    return 900;
}

qint64 defaultTurnOffDisplaySeconds(PlasmaProfile profile)
{
    switch (profile) {
    case PlasmaProfile::ac:
        return 600;
    case PlasmaProfile::battery:
        return 300;
    case PlasmaProfile::lowBattery:
        return 120;
    }
    return 600;
}

} // namespace

namespace PlasmaIdleSettings {

QString profileGroup(PlasmaProfile profile)
{
    switch (profile) {
    case PlasmaProfile::ac:
        return QStringLiteral("AC");
    case PlasmaProfile::battery:
        return QStringLiteral("Battery");
    case PlasmaProfile::lowBattery:
        return QStringLiteral("LowBattery");
    }
    return QStringLiteral("AC");
}

std::optional<PlasmaProfile> profileFor(
    bool onBattery, std::optional<double> batteryPercent, const KConfigText &powerdevilrc)
{
    if (!onBattery)
        return PlasmaProfile::ac;
    if (!batteryPercent)
        return std::nullopt;
    const qint64 lowLevel
        = integer(powerdevilrc.value({ QStringLiteral("BatteryManagement") }, QStringLiteral("BatteryLowLevel")), 10);
    return std::lround(*batteryPercent) <= lowLevel ? PlasmaProfile::lowBattery : PlasmaProfile::battery;
}

IdleSettings fromPlasma5(const KConfigText &profiles, PlasmaProfile profile)
{
    const QString name = profileGroup(profile);
    // PowerDevil writes every profile on its first start; without one it has
    // not run yet and what it will write is not ours to guess.
    if (!profiles.hasGroup({ name }))
        return {};

    IdleSettings settings;
    const QStringList suspend{ name, QStringLiteral("SuspendSession") };
    const auto idleTime = profiles.value(suspend, QStringLiteral("idleTime"));
    const auto suspendType = profiles.value(suspend, QStringLiteral("suspendType"));
    settings.sleepMinutes = 0;
    // PowerDevil arms the timer only when both keys are there; milliseconds.
    if (idleTime && suspendType && sleeps(integer(suspendType, 0))) {
        const qint64 milliseconds = integer(idleTime, 0);
        settings.sleepMinutes = IdleSettings::minutesRoundedUp((milliseconds + 999) / 1000);
    }

    // Seconds; a missing or non-positive idleTime turns nothing off.
    const qint64 dpmsSeconds
        = integer(profiles.value({ name, QStringLiteral("DPMSControl") }, QStringLiteral("idleTime")), 0);
    settings.displaySleepMinutes = IdleSettings::minutesRoundedUp(dpmsSeconds);
    return settings;
}

IdleSettings fromPlasma6(const KConfigText &powerdevilrc, PlasmaProfile profile, const PlasmaMachine &machine)
{
    const QString name = profileGroup(profile);
    const QStringList suspend{ name, QStringLiteral("SuspendAndShutdown") };
    const QStringList display{ name, QStringLiteral("Display") };
    IdleSettings settings;

    std::optional<qint64> action = integer(powerdevilrc.value(suspend, QStringLiteral("AutoSuspendAction")));
    if (!action && machine.canSuspend && machine.virtualMachine)
        action = *machine.canSuspend && !*machine.virtualMachine ? 1 : 0;
    if (action) {
        std::optional<qint64> seconds
            = integer(powerdevilrc.value(suspend, QStringLiteral("AutoSuspendIdleTimeoutSec")));
        if (!seconds && !machine.mobile)
            seconds = defaultSuspendSeconds(profile);
        if (!sleeps(*action))
            settings.sleepMinutes = 0;
        else if (seconds)
            settings.sleepMinutes = IdleSettings::minutesRoundedUp(*seconds);
    }

    const bool turnsOff = boolean(powerdevilrc.value(display, QStringLiteral("TurnOffDisplayWhenIdle"))).value_or(true);
    std::optional<qint64> seconds
        = integer(powerdevilrc.value(display, QStringLiteral("TurnOffDisplayIdleTimeoutSec")));
    if (!seconds && !machine.mobile)
        seconds = defaultTurnOffDisplaySeconds(profile);
    if (!turnsOff)
        settings.displaySleepMinutes = 0;
    else if (seconds)
        settings.displaySleepMinutes = IdleSettings::minutesRoundedUp(*seconds);
    return settings;
}

} // namespace PlasmaIdleSettings
