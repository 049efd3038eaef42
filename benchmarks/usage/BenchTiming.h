#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

// Runs `body` `runs` times and prints the median and 99th percentile.
inline void reportTiming(
    const char *label, int runs, const std::function<void()> &body, double divisor = 1, const char *unit = "ms")
{
    QList<double> milliseconds;
    milliseconds.reserve(runs);
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        body();
        milliseconds.append(double(timer.nsecsElapsed()) / 1e6 / divisor);
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    const double p50 = milliseconds.at(runs / 2);
    const double p99 = milliseconds.at(std::max(0, int(std::ceil(runs * 0.99)) - 1));
    const double scale = QString::fromLatin1(unit) == u"us" ? 1000.0 : 1.0;
    std::printf("%-44s p50 %9.3f %s   p99 %9.3f %s   (%d runs)\n", label, p50 * scale, unit, p99 * scale, unit, runs);
    std::fflush(stdout);
}
