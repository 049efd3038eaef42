#pragma once

#include "Expected.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <array>
#include <optional>

// A weekly schedule as the user types it: days of the week and a time range
// on the local clock, "mon-fri 09:00-18:00", "sat,sun 10:00-14:00",
// "daily 22:00-02:00". Days are "mon" to "sun", ranges of them ("mon-fri",
// "fri-mon"), lists ("mon,wed,fri"), or "daily" / "*". A range that ends
// before it starts runs across midnight, and the day names its start:
// "fri 22:00-02:00" holds from Friday 22:00 to Saturday 02:00. An end of
// "24:00" is the end of the day.
//
// Times are the wall clock's of the zone of the moment asked about. A start
// or end that a spring-forward change skips happens at the first moment
// after the gap; one that an autumn change shows twice happens at its first
// showing only. Pure: no clock of its own.
class ScheduleRule
{
public:
    static Expected<ScheduleRule, QString> parse(const QString &text);

    // In the interface's words: "평일 09:00–18:00", "주말 10:00–14:00",
    // "월·수·금 08:00–12:00", "매일 22:00–02:00".
    QString summary() const;

    // Whether the schedule holds at the moment, read on its zone's clock.
    bool contains(const QDateTime &moment) const;
    // The first start or end after now, in now's zone.
    QDateTime nextEdge(const QDateTime &now) const;

    // Days as QDate::dayOfWeek() numbers less one (0 Monday ... 6 Sunday).
    const std::array<bool, 7> &days() const { return m_days; }
    int startMinute() const { return m_start; }
    // Minutes after the start day's midnight: past 1440 when it crosses.
    int endMinute() const { return m_end; }

    bool operator==(const ScheduleRule &) const = default;

private:
    struct Span {
        QDateTime start;
        QDateTime end;
    };
    // The span that starts on the date, when the schedule has that day.
    std::optional<Span> spanOn(QDate date, const QTimeZone &zone) const;

    std::array<bool, 7> m_days{};
    int m_start = 0;
    int m_end = 0;
};
