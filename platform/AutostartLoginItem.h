#pragma once

#include "ServiceRegistration.h"

// The agent as an XDG autostart entry in the user's configuration folder.
// Registered when the entry exists and is not Hidden=true; registering
// (re)writes it. Approval is never required on Linux.
class AutostartLoginItem : public ServiceRegistration
{
public:
    // configHome: $XDG_CONFIG_HOME (normally ~/.config).
    AutostartLoginItem(QString agentPath, QString configHome);
    static QString defaultConfigHome();

    QString entryPath() const;

    Status status() const override;
    Expected<void, QString> registerService() override;

private:
    QString m_agentPath;
    QString m_configHome;
};
