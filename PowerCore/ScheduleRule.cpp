#include "ScheduleRule.h"

#include "WallClock.h"

#include <QRegularExpression>
#include <QStringList>

#include <optional>

namespace {

constexpr int minutesPerDay = 24 * 60;

const std::array<QStringView, 7> dayNames{ u"mon", u"tue", u"wed", u"thu", u"fri", u"sat", u"sun" };
const std::array<QStringView, 7> koreanDayNames{ u"월", u"화", u"수", u"목", u"금", u"토", u"일" };

QString example()
{
    return QStringLiteral("예: mon-fri 09:00-18:00");
}

std::optional<int> dayIndex(const QString &name)
{
    for (int i = 0; i < int(dayNames.size()); ++i) {
        if (name == dayNames[i])
            return i;
    }
    return std::nullopt;
}

// "HH:MM" as minutes after midnight; 24:00 only where it may end a range.
std::optional<int> minutesOf(const QString &text, bool mayBeEndOfDay)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int hours = match.captured(1).toInt();
    const int minutes = match.captured(2).toInt();
    if (minutes > 59)
        return std::nullopt;
    if (hours == 24 && minutes == 0 && mayBeEndOfDay)
        return minutesPerDay;
    if (hours > 23)
        return std::nullopt;
    return hours * 60 + minutes;
}

QString clockText(int minutes)
{
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// The moment the zone's clock first shows the date and time; where a
// spring-forward change skips that time, the first moment after the gap.
QDateTime firstShowing(QDate date, int minutes, const QTimeZone &zone)
{
    const QTime time(minutes / 60, minutes % 60);
    if (const auto shown = WallClock::shownAt(date, time, zone))
        return shown->toTimeZone(zone);
    const QDateTime wall(date, time, QTimeZone::utc());
    // Skipped: the change itself is the first moment the clock is past it.
    const QDateTime before = wall.addSecs(-zone.offsetFromUtc(wall.addSecs(-86400)) - 86400);
    const QTimeZone::OffsetData change = zone.nextTransition(before);
    if (change.atUtc.isValid())
        return change.atUtc.toTimeZone(zone);
    return wall.addSecs(-zone.offsetFromUtc(wall.addSecs(-86400))).toTimeZone(zone);
}

} // namespace

Expected<ScheduleRule, QString> ScheduleRule::parse(const QString &text)
{
    const QStringList words
        = text.trimmed().toLower().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return Unexpected(QStringLiteral("일정이 비어 있습니다. %1").arg(example()));
    if (words.size() != 2)
        return Unexpected(QStringLiteral("일정은 요일과 시간 범위 두 부분으로 씁니다. %1").arg(example()));

    ScheduleRule rule;
    for (const QString &part : words.at(0).split(QLatin1Char(','))) {
        if (part == u"daily" || part == u"*") {
            rule.m_days.fill(true);
            continue;
        }
        const QStringList ends = part.split(QLatin1Char('-'));
        const std::optional<int> first = dayIndex(ends.value(0));
        const std::optional<int> last = ends.size() == 2 ? dayIndex(ends.at(1)) : first;
        if (part.isEmpty() || ends.size() > 2 || !first || !last)
            return Unexpected(QStringLiteral(
                "알 수 없는 요일: \"%1\" (mon, tue, wed, thu, fri, sat, sun, 범위 mon-fri, daily 또는 *)")
                                  .arg(part));
        // A range may wrap past Sunday: "fri-mon".
        for (int day = *first;; day = (day + 1) % 7) {
            rule.m_days[day] = true;
            if (day == *last)
                break;
        }
    }

    const QString &range = words.at(1);
    const QStringList times = range.split(QLatin1Char('-'));
    if (times.size() != 2)
        return Unexpected(QStringLiteral("시간 범위가 잘못되었습니다: \"%1\" (예: 09:00-18:00)").arg(range));
    const std::optional<int> start = minutesOf(times.at(0), false);
    if (!start)
        return Unexpected(QStringLiteral("잘못된 시각: \"%1\" (00:00부터 23:59까지)").arg(times.at(0)));
    std::optional<int> end = minutesOf(times.at(1), true);
    if (!end)
        return Unexpected(QStringLiteral("잘못된 시각: \"%1\" (00:00부터 24:00까지)").arg(times.at(1)));
    if (*end == *start)
        return Unexpected(QStringLiteral("시작과 끝 시각이 같습니다: \"%1\"").arg(range));
    // An end before the start is on the next day.
    if (*end < *start)
        *end += minutesPerDay;
    rule.m_start = *start;
    rule.m_end = *end;
    return rule;
}

QString ScheduleRule::summary() const
{
    QString days;
    const bool weekdays = m_days[0] && m_days[1] && m_days[2] && m_days[3] && m_days[4];
    const bool weekend = m_days[5] && m_days[6];
    if (weekdays && weekend) {
        days = QStringLiteral("매일");
    } else if (weekdays && !m_days[5] && !m_days[6]) {
        days = QStringLiteral("평일");
    } else if (weekend && !m_days[0] && !m_days[1] && !m_days[2] && !m_days[3] && !m_days[4]) {
        days = QStringLiteral("주말");
    } else {
        QStringList names;
        for (int day = 0; day < 7; ++day) {
            if (m_days[day])
                names.append(koreanDayNames[day].toString());
        }
        days = names.join(u'·');
    }
    const int end = m_end == minutesPerDay ? m_end : m_end % minutesPerDay;
    return QStringLiteral("%1 %2–%3").arg(days, clockText(m_start), clockText(end));
}

std::optional<ScheduleRule::Span> ScheduleRule::spanOn(QDate date, const QTimeZone &zone) const
{
    if (!m_days[date.dayOfWeek() - 1])
        return std::nullopt;
    const QDate endDate = date.addDays(m_end / minutesPerDay);
    return Span{ firstShowing(date, m_start, zone), firstShowing(endDate, m_end % minutesPerDay, zone) };
}

bool ScheduleRule::contains(const QDateTime &moment) const
{
    const QTimeZone zone = moment.timeZone();
    const QDate today = moment.toTimeZone(zone).date();
    // A span that crosses midnight may have started the day before.
    for (const QDate date : { today.addDays(-1), today }) {
        const auto span = spanOn(date, zone);
        if (span && span->start <= moment && moment < span->end)
            return true;
    }
    return false;
}

QDateTime ScheduleRule::nextEdge(const QDateTime &now) const
{
    const QTimeZone zone = now.timeZone();
    const QDate today = now.toTimeZone(zone).date();
    std::optional<QDateTime> next;
    // A week and a day ahead holds a start of every day the schedule has.
    for (int days = -1; days <= 8; ++days) {
        const auto span = spanOn(today.addDays(days), zone);
        if (!span)
            continue;
        for (const QDateTime &edge : { span->start, span->end }) {
            if (edge > now && (!next || edge < *next))
                next = edge;
        }
    }
    // parse() makes no schedule without a day.
    return next.value_or(now.addDays(7)).toTimeZone(zone);
}
