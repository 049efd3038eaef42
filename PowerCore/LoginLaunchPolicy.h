#pragma once

#include <QString>

// Whether the agent, once started, should quit again because the user does
// not want it after login and nothing needs it.
class LoginLaunchPolicy
{
public:
    LoginLaunchPolicy() = delete;

    static QString defaultsKey() { return QStringLiteral("opensAtLogin"); }
    static constexpr int graceSeconds = 5;

    static constexpr bool shouldExit(bool opensAtLogin, bool hasClients, bool hasActiveFeatures)
    {
        return !(opensAtLogin || hasClients || hasActiveFeatures);
    }
};
