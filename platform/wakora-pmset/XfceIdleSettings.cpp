#include "XfceIdleSettings.h"

#include <algorithm>

namespace {

QString property(const char *name, bool onBattery)
{
    return QStringLiteral("/xfce4-power-manager/%1-%2")
        .arg(QLatin1String(name), onBattery ? QStringLiteral("battery") : QStringLiteral("ac"));
}

qint64 number(const QMap<QString, QVariant> &set, const QString &name, qint64 fallback)
{
    const auto value = set.constFind(name);
    if (value == set.cend())
        return fallback;
    bool ok = false;
    const qint64 result = value->toLongLong(&ok);
    return ok ? result : fallback;
}

} // namespace

namespace XfceIdleSettings {

QStringList properties(bool onBattery)
{
    return { property("inactivity-on", onBattery), property("inactivity-sleep-mode-on", onBattery),
        QStringLiteral("/xfce4-power-manager/dpms-enabled"), property("dpms-on", onBattery) + QStringLiteral("-sleep"),
        property("dpms-on", onBattery) + QStringLiteral("-off") };
}

IdleSettings fromProperties(const QMap<QString, QVariant> &set, bool onBattery)
{
    const QStringList names = properties(onBattery);
    IdleSettings settings;

    // Minutes; 14, the settings dialog's lowest step and the default, reads
    // "Never" there, and the daemon arms no timer for it (nor for 0).
    const qint64 inactivity = number(set, names[0], 14);
    // 1 suspends, 2 hibernates; the default is suspend on AC, hibernate on battery.
    const qint64 mode = number(set, names[1], onBattery ? 2 : 1);
    const bool sleeps = inactivity > 0 && inactivity != 14 && (mode == 1 || mode == 2);
    settings.sleepMinutes = sleeps ? inactivity : 0;

    const auto enabled = set.constFind(names[2]);
    const bool dpms = enabled == set.cend() || enabled->toBool();
    // Minutes to the display's DPMS sleep (standby) and off steps, 0 skipping
    // a step; the screen goes dark at the first step that is armed.
    const qint64 standby = number(set, names[3], onBattery ? 5 : 10);
    const qint64 off = number(set, names[4], onBattery ? 10 : 15);
    qint64 first = 0;
    for (const qint64 step : { standby, off }) {
        if (step > 0)
            first = first == 0 ? step : std::min(first, step);
    }
    settings.displaySleepMinutes = dpms ? first : 0;
    return settings;
}

} // namespace XfceIdleSettings
