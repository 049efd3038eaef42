#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

#include <optional>

// Reading the wall clocks of a time zone across its offset changes.
namespace WallClock {

// The instant at which the zone's clocks show the date and time, where there
// is one; the earliest of two where the offset changes back across it.
// Nothing where a spring-forward change skips the time.
std::optional<QDateTime> shownAt(QDate date, QTime time, const QTimeZone &zone);

} // namespace WallClock
