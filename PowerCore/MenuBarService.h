#pragma once

#include <QString>

// The agent's identity and where it listens, shared by the agent and the
// main application.
class MenuBarService
{
public:
    MenuBarService() = delete;

    static QString bundleIdentifier();
    static QString machServiceName(); // also the agent's session-bus name
    static QString mainAppIdentifier();
    // Identity texts each side demands of the other, built once on first use.
    static const QString &mainAppRequirement();
    static const QString &menuBarRequirement();

    // Where the request interface and the client's callback live on the bus.
    static QString objectPath();
    static QString interfaceName();
    // Timed sessions, a second interface on the same object.
    static QString sessionsInterfaceName();
    static QString clientObjectPath();
    static QString clientInterfaceName();
};
