#include "ReferenceDate.h"

#include <QTimeZone>

#include <cmath>

namespace ReferenceDate {

namespace {

// 2001-01-01 00:00:00 UTC in milliseconds since 1970.
constexpr qint64 referenceMSecs = 978307200000;
// About ±30,000 years: far beyond any real timestamp, well inside qint64
// milliseconds, so a hostile number cannot overflow the conversion.
constexpr double limitSeconds = 1e12;

} // namespace

double secondsSinceReferenceDate(const QDateTime &time)
{
    return double(time.toMSecsSinceEpoch() - referenceMSecs) / 1000.0;
}

std::optional<QDateTime> dateFromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > limitSeconds)
        return std::nullopt;
    const qint64 msecs = std::llround(seconds * 1000.0) + referenceMSecs;
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

} // namespace ReferenceDate
