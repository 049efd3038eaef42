#include "MenuBarService.h"

#include "ClamshellService.h"

QString MenuBarService::bundleIdentifier()
{
    return QStringLiteral("Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar");
}

QString MenuBarService::machServiceName()
{
    return bundleIdentifier();
}

QString MenuBarService::mainAppIdentifier()
{
    return QStringLiteral("com.quorvel.WakoraApp");
}

const QString &MenuBarService::mainAppRequirement()
{
    static const QString text = signingRequirement(mainAppIdentifier());
    return text;
}

const QString &MenuBarService::menuBarRequirement()
{
    static const QString text = signingRequirement(bundleIdentifier());
    return text;
}

QString MenuBarService::objectPath()
{
    return QStringLiteral("/com/quorvel/WakoraApp/MenuBar");
}

QString MenuBarService::interfaceName()
{
    return QStringLiteral("com.quorvel.WakoraApp.MenuBar");
}

QString MenuBarService::sessionsInterfaceName()
{
    return QStringLiteral("com.quorvel.WakoraApp.MenuBar.Sessions");
}

QString MenuBarService::clientObjectPath()
{
    return QStringLiteral("/com/quorvel/WakoraApp/Client");
}

QString MenuBarService::clientInterfaceName()
{
    return QStringLiteral("com.quorvel.WakoraApp.MenuBarClient");
}
