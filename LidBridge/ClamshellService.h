#pragma once

#include "LidBridgeExport.h"

#include <QString>

// The privileged helper's identity, shared by the helper and its one client
// so the two cannot disagree.
class LIDBRIDGE_EXPORT ClamshellService
{
public:
    ClamshellService() = delete;

    static QString machServiceName(); // also the helper's system-bus name
    static QString plistName();
    // Identity texts each side demands of the other, built once on first use.
    // On Linux the bus policy, polkit and the peer's executable enforce them.
    static const QString &appRequirement();
    static const QString &helperRequirement();

    static QString objectPath();
    static QString interfaceName();
};

// The signing team that prefixes the agent's identifier.
LIDBRIDGE_EXPORT QString signingTeamIdentifier();

// identifier "<id>" and anchor apple generic and certificate leaf[subject.OU] = "<team>"
LIDBRIDGE_EXPORT QString signingRequirement(const QString &identifier);
