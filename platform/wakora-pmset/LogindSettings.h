#pragma once

#include "IdleSettings.h"

#include <QDBusConnection>

#include <optional>

// What logind's properties say: the lid setting, and its own idle action,
// which is what sleeps the machine where no desktop manages idle.
struct LogindSettings {
    bool sleepDisabled = false;
    IdleSettings idle; // sleep only: logind knows nothing of the display

    static std::optional<LogindSettings> read(QDBusConnection &systemBus, QString &error);
    // logind's CanSuspend: true for "yes" and "challenge"; absent when it cannot be asked.
    static std::optional<bool> canSuspend(QDBusConnection &systemBus);
};
