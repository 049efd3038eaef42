#include "DesktopLidSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

bool DesktopLidSettings::desktopDecidesLid(const QString &currentDesktop)
{
    const QStringList desktops = currentDesktop.split(u':', Qt::SkipEmptyParts);
    return std::any_of(desktops.cbegin(), desktops.cend(),
        [](const QString &desktop) { return desktop.compare(u"KDE", Qt::CaseInsensitive) == 0; });
}

bool DesktopLidSettings::desktopDecidesLid()
{
    return desktopDecidesLid(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
}

bool DesktopLidSettings::openSettings()
{
    // Plasma 5 and 6 both name the module kcm_powerdevilprofilesconfig;
    // kcmshell opens it alone where System Settings is not installed.
    const QList<std::pair<QString, QStringList>> candidates = {
        { QStringLiteral("systemsettings"), { QStringLiteral("kcm_powerdevilprofilesconfig") } },
        { QStringLiteral("kcmshell6"), { QStringLiteral("kcm_powerdevilprofilesconfig") } },
        { QStringLiteral("kcmshell5"), { QStringLiteral("powerdevilprofilesconfig") } },
    };
    for (const auto &[program, arguments] : candidates) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty() && QProcess::startDetached(path, arguments))
            return true;
    }
    return false;
}
