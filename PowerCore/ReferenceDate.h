#pragma once

#include <QDateTime>

#include <optional>

// Every JSON Wakora writes stores points in time as seconds (possibly
// fractional) since 2001-01-01 00:00:00 UTC.
namespace ReferenceDate {

double secondsSinceReferenceDate(const QDateTime &time);

// Absent for a number that is not a representable point in time (too far
// from the reference date for a millisecond clock, or not finite).
std::optional<QDateTime> dateFromReferenceSeconds(double seconds);

} // namespace ReferenceDate
