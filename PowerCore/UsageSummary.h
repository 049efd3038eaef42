#pragma once

#include "Expected.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Keep-awake seconds within one calendar day; the day's start is its identity.
struct DailyUsage {
    QDateTime date;
    double seconds = 0;

    const QDateTime &id() const { return date; }
    bool operator==(const DailyUsage &) const = default;
};

// Sampled minutes during which an application held the machine awake; the
// application's localized name is its identity.
struct AppUsage {
    QString name;
    qint64 minutes = 0;

    const QString &id() const { return name; }
    bool operator==(const AppUsage &) const = default;
};

// What the interface shows of the history: one entry per day, oldest first,
// and the applications with the most minutes, most first. It crosses from the
// agent to the main application as the JSON of toJson().
struct UsageSummary {
    QList<DailyUsage> days;
    QList<AppUsage> apps;

    // Mean of the days' seconds; 0 without days.
    double dailyAverage() const;
    // No application and no day with any seconds.
    bool isEmpty() const;

    // {"days":[{"date":<seconds since 2001>,"seconds":…}],"apps":[{"name":…,"minutes":…}]}
    QByteArray toJson() const;
    // Fails with a description of the first thing that does not fit that shape.
    static Expected<UsageSummary, QString> fromJson(const QByteArray &json);

    bool operator==(const UsageSummary &) const = default;
};
