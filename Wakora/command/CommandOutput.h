#pragma once

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

} // namespace CommandOutput
