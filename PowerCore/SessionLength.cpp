#include "SessionLength.h"

#include "WallClock.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <optional>

namespace {

QString durationError(const QString &text)
{
    return QCoreApplication::translate("PowerCore", "잘못된 시간 길이입니다: \"%1\" (예: 90m, 2h, 1h30m)").arg(text);
}

} // namespace

Expected<qint64, QString> SessionLength::parseDuration(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:(\\d{1,6})h)?(?:(\\d{1,6})m)?(?:(\\d{1,7})s)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QString trimmed = text.trimmed();
    const QRegularExpressionMatch match = pattern.match(trimmed);
    if (trimmed.isEmpty() || !match.hasMatch())
        return Unexpected(durationError(text));
    const qint64 seconds
        = match.captured(1).toLongLong() * 3600 + match.captured(2).toLongLong() * 60 + match.captured(3).toLongLong();
    if (seconds <= 0)
        return Unexpected(
            QCoreApplication::translate("PowerCore", "시간 길이는 0보다 길어야 합니다: \"%1\"").arg(text));
    if (seconds > longestSeconds)
        return Unexpected(
            QCoreApplication::translate("PowerCore", "시간 길이는 7일을 넘을 수 없습니다: \"%1\"").arg(text));
    return seconds;
}

Expected<QTime, QString> SessionLength::parseClockTime(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    const int hours = match.captured(1).toInt();
    const int minutes = match.captured(2).toInt();
    if (!match.hasMatch() || hours > 23 || minutes > 59)
        return Unexpected(
            QCoreApplication::translate("PowerCore", "잘못된 시각입니다: \"%1\" (예: 18:30, 0:00부터 23:59까지)")
                .arg(text));
    return QTime(hours, minutes);
}

QDateTime SessionLength::nextOccurrence(const QDateTime &now, QTime time, const QTimeZone &zone)
{
    const QDate today = now.toTimeZone(zone).date();
    for (int days = 0; days < 3; ++days) {
        const QDate date = today.addDays(days);
        std::optional<QDateTime> instant = WallClock::shownAt(date, time, zone);
        if (!instant) {
            // Skipped by a spring-forward change: read with the offset before it.
            const QDateTime wall(date, time, QTimeZone::utc());
            instant = wall.addSecs(-zone.offsetFromUtc(wall.addSecs(-86400)));
        }
        // The second showing of a repeated time is the next one once the first has passed.
        if (*instant <= now) {
            const QDateTime wall(date, time, QTimeZone::utc());
            const int later = zone.offsetFromUtc(wall.addSecs(86400));
            const QDateTime second = wall.addSecs(-later);
            if (second > now && zone.offsetFromUtc(second) == later)
                instant = second;
        }
        if (*instant > now)
            return instant->toUTC();
    }
    return now.addDays(1).toUTC(); // not reached: a day always shows every time at least once
}
