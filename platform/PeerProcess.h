#pragma once

#include "Expected.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QStringList>

#include <sys/types.h>

// The process behind a bus name, identified by the bus (never by anything
// the peer says about itself).
struct PeerProcess {
    qint32 pid = 0;
    uid_t uid = 0;
    QString executable; // what /proc/PID/exe names, without a " (deleted)" mark

    // Whether the executable is one of `allowed` (compared as clean paths).
    bool runs(const QStringList &allowed) const;
};

// Pins the process with a pidfd before reading its executable, then checks
// that the bus still names that pid and that the process is still alive,
// so a recycled pid can never pass for the peer.
QCoro::Task<Expected<PeerProcess, QString>> identifyPeer(QDBusConnection bus, QString busName);

// The text a refused peer is sent with its AccessDenied error.
QString peerRefusal(const QString &busName, const QString &why);
