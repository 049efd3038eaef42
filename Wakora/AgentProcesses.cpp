#include "AgentProcesses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

const QString agentName = QStringLiteral("WakoraMenuBar");

// The session bus a process was started on, from its environment.
QByteArray sessionBusOf(const QString &directory)
{
    QFile environ(directory + QStringLiteral("/environ"));
    if (!environ.open(QIODevice::ReadOnly))
        return {};
    const QByteArray key = "DBUS_SESSION_BUS_ADDRESS=";
    for (const QByteArray &entry : environ.readAll().split('\0')) {
        if (entry.startsWith(key))
            return entry.mid(key.size());
    }
    return {};
}

} // namespace

QList<AgentProcess> agentProcesses(uid_t uid, const QByteArray &sessionBusAddress, const QString &procRoot)
{
    QList<AgentProcess> agents;
    const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint32 pid = entry.toInt(&isPid);
        if (!isPid || pid <= 0)
            continue;
        const QString directory = procRoot + QLatin1Char('/') + entry;
        struct stat status = {};
        if (::stat(QFile::encodeName(directory).constData(), &status) != 0 || status.st_uid != uid)
            continue;
        QFile comm(directory + QStringLiteral("/comm"));
        if (!comm.open(QIODevice::ReadOnly) || QString::fromUtf8(comm.readAll()).trimmed() != agentName)
            continue;
        if (sessionBusOf(directory) != sessionBusAddress)
            continue;
        QString executable = QFile::symLinkTarget(directory + QStringLiteral("/exe"));
        executable.remove(QStringLiteral(" (deleted)"));
        agents.append({ pid, executable });
    }
    return agents;
}

QList<AgentProcess> foreignAgents(const QList<AgentProcess> &agents, const QString &prefix)
{
    const QString ours = QDir::cleanPath(prefix) + QLatin1Char('/');
    QList<AgentProcess> foreign;
    for (const AgentProcess &agent : agents) {
        if (agent.executable.isEmpty() || !agent.executable.startsWith(ours))
            foreign.append(agent);
    }
    return foreign;
}
