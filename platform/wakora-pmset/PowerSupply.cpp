#include "PowerSupply.h"

#include "BusCalls.h"

PowerSupply PowerSupply::read(QDBusConnection &systemBus)
{
    const QString service = QStringLiteral("org.freedesktop.UPower");
    PowerSupply supply;
    const auto onBattery = BusCalls::property(
        systemBus, service, QStringLiteral("/org/freedesktop/UPower"), service, QStringLiteral("OnBattery"));
    supply.onBattery = onBattery && onBattery->toBool();
    if (!supply.onBattery)
        return supply;
    const auto percent
        = BusCalls::property(systemBus, service, QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice"),
            QStringLiteral("org.freedesktop.UPower.Device"), QStringLiteral("Percentage"));
    if (percent && percent->canConvert<double>())
        supply.batteryPercent = percent->toDouble();
    return supply;
}
