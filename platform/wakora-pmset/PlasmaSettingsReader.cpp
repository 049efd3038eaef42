#include "PlasmaSettingsReader.h"

#include "BusCalls.h"
#include "KConfigText.h"
#include "LogindSettings.h"
#include "PlasmaIdleSettings.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

// Lowest precedence first, as KConfig layers them: the XDG_CONFIG_DIRS in
// reverse, then XDG_CONFIG_HOME.
QStringList configFolders()
{
    QStringList system = qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts);
    if (system.isEmpty())
        system = { QStringLiteral("/etc/xdg") };
    std::reverse(system.begin(), system.end());
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.config");
    return system << home;
}

KConfigText readCascade(const QString &name)
{
    KConfigText config;
    for (const QString &folder : configFolders()) {
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::ReadOnly))
            config.overlay(KConfigText::parse(file.readAll()));
    }
    return config;
}

// "" when systemd detects no virtualization; absent when systemd cannot be asked.
std::optional<bool> virtualMachine(QDBusConnection &systemBus)
{
    const auto virtualization = BusCalls::property(systemBus, QStringLiteral("org.freedesktop.systemd1"),
        QStringLiteral("/org/freedesktop/systemd1"), QStringLiteral("org.freedesktop.systemd1.Manager"),
        QStringLiteral("Virtualization"));
    if (!virtualization)
        return std::nullopt;
    return !virtualization->toString().isEmpty();
}

} // namespace

namespace PlasmaSettingsReader {

IdleSettings read(QDBusConnection &systemBus, const PowerSupply &supply)
{
    const KConfigText powerdevilrc = readCascade(QStringLiteral("powerdevilrc"));
    const auto profile = PlasmaIdleSettings::profileFor(supply.onBattery, supply.batteryPercent, powerdevilrc);
    if (!profile)
        return {};

    // startplasma sets KDE_SESSION_VERSION; without it the files tell. Plasma 6
    // leaves a Migration group in the old file once it has taken it over.
    const QString version = qEnvironmentVariable("KDE_SESSION_VERSION");
    const KConfigText profiles = readCascade(QStringLiteral("powermanagementprofilesrc"));
    const bool plasma6 = version == u"6"
        || (version.isEmpty()
            && (powerdevilrc.hasGroup({ PlasmaIdleSettings::profileGroup(*profile) })
                || profiles.hasGroup({ QStringLiteral("Migration") })));
    if (!plasma6) {
        if (version == u"5" || !profiles.isEmpty())
            return PlasmaIdleSettings::fromPlasma5(profiles, *profile);
        return {};
    }

    PlasmaMachine machine;
    machine.mobile = !qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_MOBILE");
    // Plasma 6's default for sleeping depends on the machine: asked only when it applies.
    const QStringList suspend{ PlasmaIdleSettings::profileGroup(*profile), QStringLiteral("SuspendAndShutdown") };
    const auto action = powerdevilrc.value(suspend, QStringLiteral("AutoSuspendAction"));
    bool numeric = false;
    if (action)
        action->trimmed().toLongLong(&numeric);
    if (!numeric) {
        machine.canSuspend = LogindSettings::canSuspend(systemBus);
        machine.virtualMachine = virtualMachine(systemBus);
    }
    return PlasmaIdleSettings::fromPlasma6(powerdevilrc, *profile, machine);
}

} // namespace PlasmaSettingsReader
