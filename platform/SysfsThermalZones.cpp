#include "SysfsThermalZones.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

// Small sysfs files: one line each.
std::optional<QByteArray> readLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(64).trimmed();
}

std::optional<qint64> readMillidegrees(const QString &path)
{
    const auto text = readLine(path);
    if (!text)
        return std::nullopt;
    bool isNumber = false;
    const qint64 value = text->toLongLong(&isNumber);
    return isNumber ? std::optional<qint64>(value) : std::nullopt;
}

// The lowest passive trip point; a trip at or below 0 °C is one the
// firmware left unset, not a real limit.
std::optional<qint64> passiveTrip(const QDir &zone)
{
    std::optional<qint64> lowest;
    const QStringList types = zone.entryList({ QStringLiteral("trip_point_*_type") }, QDir::Files | QDir::System);
    for (const QString &typeFile : types) {
        if (readLine(zone.filePath(typeFile)) != QByteArrayLiteral("passive"))
            continue;
        QString tempFile = typeFile;
        tempFile.replace(tempFile.size() - 4, 4, QStringLiteral("temp"));
        const auto trip = readMillidegrees(zone.filePath(tempFile));
        if (trip && *trip > 0 && (!lowest || *trip < *lowest))
            lowest = trip;
    }
    return lowest;
}

} // namespace

SysfsThermalZones::SysfsThermalZones(QString root)
    : m_root(std::move(root))
{ }

std::optional<HotZone> SysfsThermalZones::hotZone()
{
    const QDir root(m_root);
    // sysfs lists its entries as symbolic links to the devices.
    QStringList zones = root.entryList({ QStringLiteral("thermal_zone*") }, QDir::Dirs | QDir::System);
    // The kernel's order: thermal_zone2 before thermal_zone10.
    const auto number = [](const QString &name) { return QStringView(name).mid(12).toInt(); };
    std::sort(
        zones.begin(), zones.end(), [&number](const QString &a, const QString &b) { return number(a) < number(b); });
    for (const QString &name : std::as_const(zones)) {
        const QDir zone(root.filePath(name));
        const auto trip = passiveTrip(zone);
        if (!trip)
            continue;
        const auto temperature = readMillidegrees(zone.filePath(QStringLiteral("temp")));
        if (!temperature || *temperature < *trip)
            continue;
        return HotZone{ name, QString::fromUtf8(readLine(zone.filePath(QStringLiteral("type"))).value_or(QByteArray())),
            double(*temperature) / 1000.0, double(*trip) / 1000.0 };
    }
    return std::nullopt;
}
