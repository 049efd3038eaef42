#pragma once

#include <QList>
#include <QString>

#include <sys/types.h>

// The agent processes of one user on one session bus, found through /proc.
// Other users' agents, and the same user's agents in other sessions (a
// second login, a test's private bus), are listed by /proc too, but are not
// ours to end.
struct AgentProcess {
    qint32 pid = 0;
    QString executable; // empty when it cannot be read
};

QList<AgentProcess> agentProcesses(
    uid_t uid, const QByteArray &sessionBusAddress, const QString &procRoot = QStringLiteral("/proc"));

// Those not started from our prefix (or whose executable cannot be read).
QList<AgentProcess> foreignAgents(const QList<AgentProcess> &agents, const QString &prefix);
