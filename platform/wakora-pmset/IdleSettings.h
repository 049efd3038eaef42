#pragma once

#include <QtGlobal>

#include <optional>

// The two idle delays the listing shows, in whole minutes (0 = never). An
// absent value has no source on this machine and is left out of the listing.
struct IdleSettings {
    std::optional<qint64> sleepMinutes;
    std::optional<qint64> displaySleepMinutes;

    bool operator==(const IdleSettings &) const = default;

    // Whole minutes, rounded up: a delay under a minute must not read as "never".
    static qint64 minutesRoundedUp(qint64 seconds) { return seconds <= 0 ? 0 : (seconds + 59) / 60; }
};
