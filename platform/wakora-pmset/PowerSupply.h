#pragma once

#include <QDBusConnection>

#include <optional>

// Whether the machine runs on battery, as UPower tells the desktops.
struct PowerSupply {
    bool onBattery = false;
    std::optional<double> batteryPercent; // UPower's display device, on battery only

    // Mains power when UPower is not there to say otherwise, as the desktops assume.
    static PowerSupply read(QDBusConnection &systemBus);
};
