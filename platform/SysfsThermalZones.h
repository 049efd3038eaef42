#pragma once

#include "ThermalReading.h"

#include <QString>

// The kernel's thermal zones under /sys/class/thermal (or another root, for
// tests): each thermal_zoneN's temp against its lowest trip point of type
// "passive", all in millidegrees Celsius. A zone without a passive trip
// point, or whose files cannot be read, is left out.
class SysfsThermalZones : public ThermalReading
{
public:
    static QString defaultRoot() { return QStringLiteral("/sys/class/thermal"); }

    explicit SysfsThermalZones(QString root = defaultRoot());

    // The first zone, in the kernel's order, at or above its passive trip point.
    std::optional<HotZone> hotZone() override;

private:
    QString m_root;
};
