#include "ClamshellService.h"

QString signingTeamIdentifier()
{
    return QStringLiteral("Q4WX7KD2RM");
}

QString signingRequirement(const QString &identifier)
{
    return QStringLiteral("identifier \"") + identifier
        + QStringLiteral("\" and anchor apple generic and certificate leaf[subject.OU] = \"") + signingTeamIdentifier()
        + QStringLiteral("\"");
}

QString ClamshellService::machServiceName()
{
    return QStringLiteral("com.quorvel.WakoraApp.helper");
}

QString ClamshellService::plistName()
{
    return QStringLiteral("com.quorvel.WakoraApp.helper.plist");
}

const QString &ClamshellService::appRequirement()
{
    static const QString text = signingRequirement(QStringLiteral("Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar"));
    return text;
}

const QString &ClamshellService::helperRequirement()
{
    static const QString text = signingRequirement(machServiceName());
    return text;
}

QString ClamshellService::objectPath()
{
    return QStringLiteral("/com/quorvel/WakoraApp/helper");
}

QString ClamshellService::interfaceName()
{
    return QStringLiteral("com.quorvel.WakoraApp.helper");
}
