#pragma once

#include "AssertionKind.h"

#include <QJsonArray>
#include <QString>

#include <cstdio>
#include <optional>

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

// "--name=value" split into its name and value; an option without "=" has
// no value.
struct SplitOption {
    QString name;
    std::optional<QString> value;
};
inline SplitOption splitOption(const QString &argument)
{
    if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals > 0)
        return { argument.left(equals), argument.mid(equals + 1) };
    return { argument, std::nullopt };
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
