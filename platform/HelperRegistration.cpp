#include "HelperRegistration.h"

#include "BuildPaths.h"
#include "ClamshellService.h"

#include <QCoreApplication>
#include <QFileInfo>

HelperRegistration::HelperRegistration(QStringList dataDirs, QString helperPath)
    : m_dataDirs(std::move(dataDirs))
    , m_helperPath(std::move(helperPath))
{ }

HelperRegistration HelperRegistration::forPrefix(const QString &prefix)
{
    QStringList dirs{ prefix + QStringLiteral("/" WAKORA_DATADIR), QStringLiteral("/usr/share"),
        QStringLiteral("/usr/local/share") };
    dirs.removeDuplicates();
    return HelperRegistration(dirs, prefix + QStringLiteral("/" WAKORA_LIBEXECDIR "/wakora_helper"));
}

ServiceRegistration::Status HelperRegistration::status() const
{
    const QString name = ClamshellService::machServiceName();
    bool activation = false;
    bool policy = false;
    for (const QString &dir : m_dataDirs) {
        activation = activation
            || QFileInfo::exists(dir + QStringLiteral("/dbus-1/system-services/") + name + QStringLiteral(".service"));
        policy
            = policy || QFileInfo::exists(dir + QStringLiteral("/dbus-1/system.d/") + name + QStringLiteral(".conf"));
    }
    const QFileInfo program(m_helperPath);
    return activation && policy && program.isExecutable() ? Status::enabled : Status::notFound;
}

Expected<void, QString> HelperRegistration::registerService()
{
    if (status() == Status::enabled)
        return {};
    return Unexpected(QCoreApplication::translate(
        "platform", "덮개를 닫아도 유지하려면 Wakora 패키지를 설치해야 합니다 (sudo apt install ./wakora_*.deb)."));
}
