#pragma once

#include "AssertionKind.h"

#include <QJsonArray>
#include <QString>

#include <cstdio>

// The wakora command's two streams: what it answers, and what went wrong.
namespace CommandOutput {

inline void say(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

inline void complain(const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("wakora: ") + text + QLatin1Char('\n')), stderr);
}

// A bit set of kinds as --json names them.
inline QJsonArray kindNames(qint64 kinds)
{
    QJsonArray names;
    if (kinds & assertionBit(AssertionKind::systemSleep))
        names.append(QStringLiteral("systemSleep"));
    if (kinds & assertionBit(AssertionKind::displaySleep))
        names.append(QStringLiteral("displaySleep"));
    return names;
}

} // namespace CommandOutput
