#pragma once

#include "ServiceRegistration.h"

#include <QStringList>

// The privileged helper as the package installs it: its system-bus
// activation file, its bus policy and its program. A user cannot install
// system files, so registering only says how to.
class HelperRegistration : public ServiceRegistration
{
public:
    // dataDirs: where the system bus looks for activation files and policy
    // (for example /usr/share and /usr/local/share); helperPath: the helper of
    // our prefix.
    HelperRegistration(QStringList dataDirs, QString helperPath);
    static HelperRegistration forPrefix(const QString &prefix);

    Status status() const override;
    Expected<void, QString> registerService() override;

private:
    QStringList m_dataDirs;
    QString m_helperPath;
};
