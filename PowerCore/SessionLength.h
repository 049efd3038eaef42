#pragma once

#include "Expected.h"

#include <QDateTime>
#include <QString>
#include <QTime>
#include <QTimeZone>

// How long a timed session lasts, as people type it: a length ("90m", "2h",
// "1h30m") or a clock time ("18:30"). Pure: the clock and the time zone
// are the caller's.
class SessionLength
{
public:
    SessionLength() = delete;

    // A week: longer than anyone keeps a machine awake on purpose, short
    // enough that a typo ("300h") is caught rather than obeyed.
    static constexpr qint64 longestSeconds = 7 * 24 * 3600;

    // Hours, minutes and seconds, each at most once and in that order, each a
    // number followed by its unit: "2h", "90m", "1h30m", "45s". Answers the
    // seconds, or the text that says what is wrong.
    static Expected<qint64, QString> parseDuration(const QString &text);

    // "H:MM" or "HH:MM", 24-hour.
    static Expected<QTime, QString> parseClockTime(const QString &text);

    // The first moment after now at which the zone's clocks show the time:
    // today, or tomorrow once it has passed. Where a change of the zone's
    // offset repeats the time, its first showing; where it skips it, the
    // moment the skip lands on (02:30 on a spring-forward night at 02:00 is
    // 03:30), as a clock set forward would read.
    static QDateTime nextOccurrence(const QDateTime &now, QTime time, const QTimeZone &zone);
};
