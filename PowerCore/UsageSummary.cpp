#include "UsageSummary.h"

#include "JsonInteger.h"
#include "ReferenceDate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

double UsageSummary::dailyAverage() const
{
    if (days.isEmpty())
        return 0;
    double total = 0;
    for (const DailyUsage &day : days)
        total += day.seconds;
    return total / double(days.size());
}

bool UsageSummary::isEmpty() const
{
    if (!apps.isEmpty())
        return false;
    for (const DailyUsage &day : days) {
        if (day.seconds != 0)
            return false;
    }
    return true;
}

QByteArray UsageSummary::toJson() const
{
    QJsonArray dayArray;
    for (const DailyUsage &day : days) {
        dayArray.append(QJsonObject{
            { QStringLiteral("date"), ReferenceDate::secondsSinceReferenceDate(day.date) },
            { QStringLiteral("seconds"), day.seconds },
        });
    }
    QJsonArray appArray;
    for (const AppUsage &app : apps) {
        appArray.append(QJsonObject{
            { QStringLiteral("name"), app.name },
            { QStringLiteral("minutes"), app.minutes },
        });
    }
    const QJsonObject object{
        { QStringLiteral("days"), dayArray },
        { QStringLiteral("apps"), appArray },
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Expected<UsageSummary, QString> UsageSummary::fromJson(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Unexpected(QStringLiteral("usage summary is not JSON: %1").arg(parseError.errorString()));
    if (!document.isObject())
        return Unexpected(QStringLiteral("usage summary is not a JSON object"));
    const QJsonObject object = document.object();
    const QJsonValue daysValue = object.value(QLatin1String("days"));
    const QJsonValue appsValue = object.value(QLatin1String("apps"));
    if (!daysValue.isArray() || !appsValue.isArray())
        return Unexpected(QStringLiteral("usage summary lacks the \"days\" or \"apps\" array"));

    UsageSummary summary;
    for (const QJsonValue &entry : daysValue.toArray()) {
        const QJsonObject day = entry.toObject();
        const QJsonValue seconds = day.value(QLatin1String("seconds"));
        const auto date = ReferenceDate::dateFromReferenceSeconds(day.value(QLatin1String("date")).toDouble(NAN));
        if (!entry.isObject() || !date || !seconds.isDouble() || !std::isfinite(seconds.toDouble()))
            return Unexpected(QStringLiteral("usage summary has a malformed day"));
        summary.days.append(DailyUsage{ *date, seconds.toDouble() });
    }
    for (const QJsonValue &entry : appsValue.toArray()) {
        const QJsonObject app = entry.toObject();
        const QJsonValue name = app.value(QLatin1String("name"));
        const auto minutes = jsonInteger(app.value(QLatin1String("minutes")));
        if (!entry.isObject() || !name.isString() || !minutes)
            return Unexpected(QStringLiteral("usage summary has a malformed application"));
        summary.apps.append(AppUsage{ name.toString(), *minutes });
    }
    return summary;
}
