#include "SysfsThermalZones.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The thermal zones' reader over a fake /sys/class/thermal in a temporary folder.
class TestThermalZones : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;

    void write(const QString &zone, const QString &file, const QByteArray &text)
    {
        QDir().mkpath(root->filePath(zone));
        QFile out(root->filePath(zone + QLatin1Char('/') + file));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text + '\n');
    }

    // A zone with its trip points: (type, millidegrees) each.
    void zone(
        const QString &name, const QByteArray &type, qint64 temp, const QList<std::pair<QByteArray, qint64>> &trips)
    {
        write(name, QStringLiteral("type"), type);
        write(name, QStringLiteral("temp"), QByteArray::number(temp));
        for (qsizetype i = 0; i < trips.size(); ++i) {
            write(name, QStringLiteral("trip_point_%1_type").arg(i), trips.at(i).first);
            write(name, QStringLiteral("trip_point_%1_temp").arg(i), QByteArray::number(trips.at(i).second));
        }
    }

private Q_SLOTS:
    void init() { root = std::make_unique<QTemporaryDir>(); }

    void aZoneAtItsLowestPassiveTripIsHot()
    {
        zone(QStringLiteral("thermal_zone0"), "acpitz", 70000, { { "critical", 105000 }, { "passive", 90000 } });
        SysfsThermalZones zones(root->path());
        QCOMPARE(zones.hotZone(), std::nullopt);

        // Two passive trips: the lower one is where the kernel starts cooling.
        zone(QStringLiteral("thermal_zone1"), "x86_pkg_temp", 85000,
            { { "passive", 95000 }, { "passive", 85000 }, { "hot", 80000 } });
        QCOMPARE(zones.hotZone(),
            std::optional<HotZone>(HotZone{ QStringLiteral("thermal_zone1"), QStringLiteral("x86_pkg_temp"), 85, 85 }));
    }

    void unsetTripsCriticalOnlyZonesAndUnreadableFilesCountForNothing()
    {
        // The firmware leaves unused trips at 0 (or below): not a limit.
        zone(QStringLiteral("thermal_zone0"), "pch", 50000, { { "passive", 0 } });
        zone(QStringLiteral("thermal_zone1"), "iwlwifi", 120000, { { "critical", 118000 } });
        write(QStringLiteral("thermal_zone2"), QStringLiteral("temp"), "not a number");
        write(QStringLiteral("thermal_zone2"), QStringLiteral("trip_point_0_type"), "passive");
        write(QStringLiteral("thermal_zone2"), QStringLiteral("trip_point_0_temp"), "1000");
        write(QStringLiteral("cooling_device0"), QStringLiteral("cur_state"), "0");
        QCOMPARE(SysfsThermalZones(root->path()).hotZone(), std::nullopt);
        QCOMPARE(SysfsThermalZones(root->filePath(QStringLiteral("missing"))).hotZone(), std::nullopt);
    }

    void zonesAreReadInTheKernelsOrder()
    {
        zone(QStringLiteral("thermal_zone10"), "ten", 99000, { { "passive", 90000 } });
        zone(QStringLiteral("thermal_zone2"), "two", 91000, { { "passive", 90000 } });
        QCOMPARE(SysfsThermalZones(root->path()).hotZone()->type, QStringLiteral("two"));
    }
};

QTEST_GUILESS_MAIN(TestThermalZones)
#include "tst_thermalzones.moc"
