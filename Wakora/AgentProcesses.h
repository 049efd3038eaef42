#pragma once

#include <QList>
#include <QString>

#include <sys/types.h>

// The agent processes of one user, found through /proc. Other users' agents
// are listed by /proc too, but are not ours to end.
struct AgentProcess {
    qint32 pid = 0;
    QString executable; // empty when it cannot be read
};

QList<AgentProcess> agentProcesses(uid_t uid, const QString &procRoot = QStringLiteral("/proc"));

// Those not started from our prefix (or whose executable cannot be read).
QList<AgentProcess> foreignAgents(const QList<AgentProcess> &agents, const QString &prefix);
