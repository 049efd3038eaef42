// Timing of the usage history at its largest: 30 days, 2,000 sessions and
// 50 applications a day. Prints p50 and p99 over 200 runs.

#include "BenchTiming.h"
#include "UsageStore.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstdio>

int main()
{
    constexpr int runs = 200;
    constexpr int sessionCount = 2000;
    constexpr int appsPerDay = 50;
    constexpr int dayCount = 30;

    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    const QString path = folder.filePath(QStringLiteral("Wakora/usage.json"));
    const QTimeZone zone = QTimeZone::systemTimeZone();
    QDateTime now = QDateTime(QDate(2026, 3, 10), QTime(15, 0), zone).toUTC();

    // Sessions spread evenly over the last 30 days, each 5 minutes long.
    UsageStore::Contents contents;
    const QDateTime first = now.addSecs(-(dayCount - 1) * 86400);
    const qint64 spacing = (dayCount - 1) * 86400 / sessionCount;
    for (int index = 0; index < sessionCount; ++index) {
        const QDateTime start = first.addSecs(index * spacing);
        contents.sessions.append({ start, start.addSecs(300) });
    }
    QRandomGenerator random(7);
    for (int day = 0; day < dayCount; ++day) {
        const QDate date = now.toTimeZone(zone).date().addDays(-day);
        QMap<QString, qint64> apps;
        for (int app = 0; app < appsPerDay; ++app)
            apps.insert(QStringLiteral("Application %1").arg(app), random.bounded(1, 600));
        contents.appMinutes.insert(date.startOfDay(zone).toUTC(), apps);
    }
    contents.lastSeen = now;
    {
        const QByteArray json = contents.toJson();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
            return 1;
        std::printf("usage.json: %lld bytes, %d sessions, %d days x %d applications\n", qint64(json.size()),
            sessionCount, dayCount, appsPerDay);
    }

    const auto clock = [&now] { return now; };
    reportTiming("load (read, decode, prune, save)", runs, [&] {
        UsageStore store(path, clock);
        if (store.contents().sessions.size() != sessionCount)
            std::abort();
    });

    UsageStore store(path, clock);
    int sink = 0;
    reportTiming("summary(days: 7, topApps: 5)", runs, [&] { sink += int(store.summary(7, 5).apps.size()); });
    if (sink != runs * 5)
        return 1;

    const QStringList sample{
        QStringLiteral("Application 1"),
        QStringLiteral("Application 2"),
        QStringLiteral("Application 3"),
    };
    reportTiming("recordSample(apps:), pruned, handed off", runs, [&] {
        now = now.addSecs(60);
        store.recordSample(sample);
    });
    return 0;
}
