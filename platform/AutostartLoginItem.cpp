#include "AutostartLoginItem.h"

#include "MenuBarService.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

AutostartLoginItem::AutostartLoginItem(QString agentPath, QString configHome)
    : m_agentPath(std::move(agentPath))
    , m_configHome(std::move(configHome))
{ }

QString AutostartLoginItem::defaultConfigHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString AutostartLoginItem::entryPath() const
{
    return m_configHome + QStringLiteral("/autostart/") + MenuBarService::bundleIdentifier()
        + QStringLiteral(".desktop");
}

ServiceRegistration::Status AutostartLoginItem::status() const
{
    QFile entry(entryPath());
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
        return Status::notRegistered;
    // A user who switched it off in the desktop's settings has Hidden=true.
    bool inMainGroup = false;
    while (!entry.atEnd()) {
        const QByteArray line = entry.readLine().trimmed();
        if (line.startsWith('['))
            inMainGroup = line == "[Desktop Entry]";
        else if (inMainGroup && line.startsWith("Hidden") && line.mid(6).trimmed().startsWith('=')
            && line.mid(line.indexOf('=') + 1).trimmed() == "true")
            return Status::notRegistered;
    }
    return Status::enabled;
}

static QString quotedExec(const QString &path)
{
    // Desktop entry quoting: the path in double quotes, with \ " ` $ escaped.
    QString quoted = path;
    for (const QChar c : { QLatin1Char('\\'), QLatin1Char('"'), QLatin1Char('`'), QLatin1Char('$') })
        quoted.replace(c, QStringLiteral("\\") + c);
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

Expected<void, QString> AutostartLoginItem::registerService()
{
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return Unexpected(QStringLiteral("Cannot create %1").arg(QFileInfo(path).path()));
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly | QIODevice::Text))
        return Unexpected(QStringLiteral("Cannot write %1: %2").arg(path, entry.errorString()));
    // TryExec (a plain string, where only \ is escaped) makes the session
    // skip the entry once the agent is gone, rather than fail at every login.
    QString tryExec = m_agentPath;
    tryExec.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Wakora\n"
                                        "Comment=Keeps the computer awake on request\n"
                                        "Exec=%1\n"
                                        "TryExec=%2\n"
                                        "Icon=com.quorvel.WakoraApp\n"
                                        "Terminal=false\n"
                                        "NoDisplay=true\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(quotedExec(m_agentPath), tryExec);
    entry.write(text.toUtf8());
    if (!entry.commit())
        return Unexpected(QStringLiteral("Cannot write %1: %2").arg(path, entry.errorString()));
    return {};
}
