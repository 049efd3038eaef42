#include "WallClock.h"

std::optional<QDateTime> WallClock::shownAt(QDate date, QTime time, const QTimeZone &zone)
{
    const QDateTime wall(date, time, QTimeZone::utc());
    std::optional<QDateTime> earliest;
    // The offsets in force a day either side cover every change that can
    // touch this time; each is right only where the zone agrees with it.
    for (const qint64 side : { -86400, 86400 }) {
        const int offset = zone.offsetFromUtc(wall.addSecs(side));
        const QDateTime instant = wall.addSecs(-offset);
        if (zone.offsetFromUtc(instant) == offset && (!earliest || instant < *earliest))
            earliest = instant;
    }
    return earliest;
}
