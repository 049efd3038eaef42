#include "DesktopLidSettings.h"

#include "InhibitorLists.h"

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

namespace {

bool isXfce(const QString &handler)
{
    return handler.contains(u"xfce", Qt::CaseInsensitive);
}

} // namespace

QString DesktopLidSettings::lidHandler(const QList<LogindInhibitor> &inhibitors)
{
    static const QStringList known{ QStringLiteral("xfce4-power-manager"), QStringLiteral("PowerDevil"),
        QStringLiteral("mate-power-manager") };
    for (const LogindInhibitor &lock : inhibitors) {
        if (lock.mode != u"block" || !lock.what.split(u':').contains(u"handle-lid-switch"))
            continue;
        const auto found = std::find_if(known.cbegin(), known.cend(),
            [&lock](const QString &name) { return lock.who.compare(name, Qt::CaseInsensitive) == 0; });
        if (found != known.cend())
            return lock.who;
    }
    return QString();
}

QCoro::Task<QString> DesktopLidSettings::readLidHandler(QDBusConnection systemBus)
{
    const InhibitorLists::LogindAnswer answer = co_await InhibitorLists::readLogind(systemBus);
    co_return lidHandler(answer.inhibitors);
}

QString DesktopLidSettings::settingsName(const QString &lidHandler)
{
    if (lidHandler.isEmpty() || lidHandler.compare(u"PowerDevil", Qt::CaseInsensitive) == 0)
        return QStringLiteral("Plasma");
    if (isXfce(lidHandler))
        return QStringLiteral("Xfce");
    return lidHandler;
}

bool DesktopLidSettings::openSettings(const QString &lidHandler)
{
    if (isXfce(lidHandler)) {
        const QString path = QStandardPaths::findExecutable(QStringLiteral("xfce4-power-manager-settings"));
        return !path.isEmpty() && QProcess::startDetached(path, {});
    }
    if (lidHandler.contains(u"mate", Qt::CaseInsensitive)) {
        const QString path = QStandardPaths::findExecutable(QStringLiteral("mate-power-preferences"));
        return !path.isEmpty() && QProcess::startDetached(path, {});
    }
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
