#include "ProgramLocations.h"

#include "BuildPaths.h"

#include <QCoreApplication>
#include <QDir>

ProgramLocations::ProgramLocations(QString prefix)
    : m_prefix(QDir::cleanPath(prefix))
{ }

ProgramLocations ProgramLocations::ofThisProgram()
{
    return ProgramLocations(prefixOf(QCoreApplication::applicationDirPath()));
}

QString ProgramLocations::prefixOf(const QString &programDirectory)
{
    const QString directory = QDir::cleanPath(programDirectory);
    for (const QString &relative : { QStringLiteral(WAKORA_LIBEXECDIR), QStringLiteral(WAKORA_BINDIR) }) {
        const QString suffix = QLatin1Char('/') + relative;
        if (directory.endsWith(suffix))
            return directory.chopped(suffix.size());
    }
    return QDir::cleanPath(directory + QStringLiteral("/.."));
}

QString ProgramLocations::mainApplication() const
{
    return m_prefix + QStringLiteral("/" WAKORA_BINDIR "/Wakora");
}

QString ProgramLocations::commandLine() const
{
    return m_prefix + QStringLiteral("/" WAKORA_BINDIR "/wakora");
}

QString ProgramLocations::agent() const
{
    return m_prefix + QStringLiteral("/" WAKORA_LIBEXECDIR "/WakoraMenuBar");
}

QString ProgramLocations::helper() const
{
    return m_prefix + QStringLiteral("/" WAKORA_LIBEXECDIR "/wakora_helper");
}

QString ProgramLocations::pmset() const
{
    return m_prefix + QStringLiteral("/" WAKORA_LIBEXECDIR "/wakora-pmset");
}
