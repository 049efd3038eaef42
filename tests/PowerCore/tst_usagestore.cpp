#include "ReferenceDate.h"
#include "UsageStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {

// All calendar arithmetic here runs in a zone with daylight saving time.
const QTimeZone berlin("Europe/Berlin");

QDateTime local(int year, int month, int day, int hour, int minute = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), berlin).toUTC();
}

double referenceSeconds(const QDateTime &time)
{
    return double(QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()).secsTo(time));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QJsonObject readObject(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}

} // namespace

// The history file and what the store computes from it, under a clock the
// test moves and in Europe/Berlin (TZ is set for the whole process).
class TestUsageStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> folder;
    QString path;
    QDateTime now;

    std::unique_ptr<UsageStore> open()
    {
        return std::make_unique<UsageStore>(path, [this] { return now; });
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!berlin.isValid())
            QSKIP("the time zone database has no Europe/Berlin");
        // The store's default calendar is the process's time zone.
        qputenv("TZ", "Europe/Berlin");
        ::tzset();
        QCOMPARE(QTimeZone::systemTimeZone().id(), QByteArray("Europe/Berlin"));
    }

    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
        path = folder->filePath(u"Wakora/usage.json"_s);
        now = local(2026, 3, 10, 12);
    }

    void defaultLocationFollowsTheDataFolder()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(folder->path()));
        QCOMPARE(UsageStore::defaultPath(), folder->filePath(u"Wakora/usage.json"_s));
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(UsageStore::asidePath(path), path + u".corrupt"_s);
    }

    void firstStartWritesAnEmptyHistory()
    {
        const auto store = open();
        QCOMPARE(store->contents(), UsageStore::Contents());
        QVERIFY(store->flush());
        const QJsonObject object = readObject(path);
        QCOMPARE(object.keys(), QStringList({ u"appMinutes"_s, u"sessions"_s }));
        QCOMPARE(object.value(u"sessions").toArray(), QJsonArray());
        QCOMPARE(object.value(u"appMinutes").toArray(), QJsonArray());
    }

    void fileShapesAndRoundTrip()
    {
        const QDateTime start = now;
        auto store = open();
        store->sessionStarted(now);
        now = now.addSecs(90);
        store->recordSample({ u"Firefox"_s, u"Terminal"_s });
        now = now.addSecs(30);
        store->sessionEnded(now);
        now = now.addSecs(600);
        store->sessionStarted(now); // left open

        QVERIFY(store->flush());
        const QJsonObject object = readObject(path);
        const QJsonArray sessions = object.value(u"sessions").toArray();
        QCOMPARE(sessions.size(), 2);
        QCOMPARE(sessions.at(0).toObject().value(u"start").toDouble(), referenceSeconds(start));
        QCOMPARE(sessions.at(0).toObject().value(u"end").toDouble(), referenceSeconds(start.addSecs(120)));
        QVERIFY(!sessions.at(1).toObject().contains(u"end"));
        const QJsonArray minutes = object.value(u"appMinutes").toArray();
        QCOMPARE(minutes.size(), 2);
        QCOMPARE(minutes.at(0).toDouble(), referenceSeconds(local(2026, 3, 10, 0)));
        QCOMPARE(minutes.at(1).toObject(), QJsonObject({ { u"Firefox"_s, 1 }, { u"Terminal"_s, 1 } }));
        QCOMPARE(object.value(u"lastSeen").toDouble(), referenceSeconds(start.addSecs(720)));

        // What another run reads back is what this one held, except that the
        // open session is closed at lastSeen.
        UsageStore::Contents expected = store->contents();
        expected.sessions.last().end = expected.lastSeen;
        store.reset();
        QCOMPARE(open()->contents(), expected);
    }

    void readsFractionalAndOptionalFields()
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        writeAll(path, R"({"sessions":[{"start":794750400.25,"end":794754000.5},{"start":794800000,"end":null}],
            "appMinutes":[794700000,{"Mail":3.0}],"lastSeen":794800100})");
        now = *ReferenceDate::dateFromReferenceSeconds(794800200);
        const auto store = open();
        const auto &contents = store->contents();
        QCOMPARE(contents.sessions.size(), 2);
        QCOMPARE(contents.sessions.at(0).start, *ReferenceDate::dateFromReferenceSeconds(794750400.25));
        QCOMPARE(contents.sessions.at(0).start.time().msec(), 250);
        QCOMPARE(contents.sessions.at(1).end, ReferenceDate::dateFromReferenceSeconds(794800100));
        QCOMPARE(contents.appMinutes.value(*ReferenceDate::dateFromReferenceSeconds(794700000)).value(u"Mail"_s), 3);
        QVERIFY(!QFile::exists(UsageStore::asidePath(path)));
    }

    void interruptedSessionEndsAtLastSeen_data()
    {
        QTest::addColumn<QByteArray>("lastSeen");
        QTest::addColumn<QDateTime>("expectedEnd");
        const QDateTime start = local(2026, 3, 10, 9);
        QTest::newRow("lastSeen 10:00") << QByteArray(",\"lastSeen\":")
                + QByteArray::number(referenceSeconds(local(2026, 3, 10, 10)), 'f', 0)
                                        << local(2026, 3, 10, 10);
        QTest::newRow("no lastSeen") << QByteArray() << start;
        // A clock that went back cannot end a session before it began.
        QTest::newRow("lastSeen before start")
            << QByteArray(",\"lastSeen\":") + QByteArray::number(referenceSeconds(local(2026, 3, 10, 8)), 'f', 0)
            << start;
    }

    void interruptedSessionEndsAtLastSeen()
    {
        QFETCH(QByteArray, lastSeen);
        QFETCH(QDateTime, expectedEnd);
        const QByteArray start = QByteArray::number(referenceSeconds(local(2026, 3, 10, 9)), 'f', 0);
        QDir().mkpath(QFileInfo(path).absolutePath());
        writeAll(path, "{\"sessions\":[{\"start\":" + start + "}],\"appMinutes\":[]" + lastSeen + "}");

        const auto store = open();
        QCOMPARE(store->contents().sessions.size(), 1);
        QCOMPARE(store->contents().sessions.at(0).end, std::optional<QDateTime>(expectedEnd));
        // The repair is saved at once.
        QVERIFY(store->flush());
        QVERIFY(readObject(path).value(u"sessions").toArray().at(0).toObject().contains(u"end"));
        // Nothing runs: a summary counts the closed session, not up to now.
        QCOMPARE(store->summary(1, 5).days.at(0).seconds, double(local(2026, 3, 10, 9).secsTo(expectedEnd)));
    }

    void unusableFileIsSetAside_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not JSON") << QByteArray("{\"sessions\": [");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("JSON array") << QByteArray("[]");
        QTest::newRow("sessions is an object") << QByteArray(R"({"sessions":{},"appMinutes":[]})");
        QTest::newRow("appMinutes missing") << QByteArray(R"({"sessions":[]})");
        QTest::newRow("appMinutes odd") << QByteArray(R"({"sessions":[],"appMinutes":[794700000]})");
        QTest::newRow("fractional minutes") << QByteArray(R"({"sessions":[],"appMinutes":[794700000,{"A":1.5}]})");
        QTest::newRow("start is text") << QByteArray(R"({"sessions":[{"start":"today"}],"appMinutes":[]})");
        QTest::newRow("time out of range") << QByteArray(R"({"sessions":[{"start":1e300}],"appMinutes":[]})");
        QTest::newRow("lastSeen is text") << QByteArray(R"({"sessions":[],"appMinutes":[],"lastSeen":"x"})");
        QByteArray garbage(10 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(42);
        generator.fillRange(reinterpret_cast<quint32 *>(garbage.data()), garbage.size() / 4);
        QTest::newRow("10 MB of garbage") << garbage;
    }

    void unusableFileIsSetAside()
    {
        QFETCH(QByteArray, bytes);
        QDir().mkpath(QFileInfo(path).absolutePath());
        writeAll(UsageStore::asidePath(path), "an earlier bad file");
        writeAll(path, bytes);

        const auto store = open();
        QCOMPARE(store->contents(), UsageStore::Contents());
        QVERIFY(store->flush());
        // The bad bytes are kept, replacing the earlier aside copy, and a
        // fresh empty history takes the file's place.
        QCOMPARE(QCryptographicHash::hash(readAll(UsageStore::asidePath(path)), QCryptographicHash::Sha256),
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
        QCOMPARE(readObject(path).value(u"sessions").toArray(), QJsonArray());

        // The store goes on as usual.
        store->recordSample({ u"Mail"_s });
        QVERIFY(store->flush());
        QCOMPARE(readObject(path).value(u"appMinutes").toArray().size(), 2);
    }

    void unreadableFileIsSetAsideNotOverwritten()
    {
        // A folder in the file's place cannot be read as a file, whoever we run as.
        QVERIFY(QDir().mkpath(path));
        writeAll(path + u"/keep"_s, "x");
        const auto store = open();
        QCOMPARE(store->contents(), UsageStore::Contents());
        QCOMPARE(readAll(UsageStore::asidePath(path) + u"/keep"_s), QByteArray("x"));
        QVERIFY(store->flush());
        QVERIFY(QFileInfo(path).isFile());
    }

    void failedSavesAreSilentAndRetried()
    {
        // A file where the folder belongs blocks every save, also for root.
        const QString blocker = QFileInfo(path).absolutePath();
        writeAll(blocker, "in the way");
        const auto store = open();
        store->sessionStarted(now);
        now = now.addSecs(60);
        store->recordSample({ u"Mail"_s });
        QVERIFY(QFileInfo(blocker).isFile());
        QCOMPARE(store->contents().sessions.size(), 1);
        QCOMPARE(store->summary(1, 5).apps, QList<AppUsage>({ { u"Mail"_s, 1 } }));
        QVERIFY(!store->flush());

        // The next change writes it all, long before the writer's own retry.
        QVERIFY(QFile::remove(blocker));
        now = now.addSecs(60);
        store->recordSample({ u"Mail"_s });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).isFile(), 5000);
        const QJsonObject object = readObject(path);
        QCOMPARE(object.value(u"sessions").toArray().size(), 1);
        QCOMPARE(object.value(u"appMinutes").toArray().at(1).toObject().value(u"Mail").toInt(), 2);
    }

    void sessionsOpenAndCloseOnce()
    {
        const auto store = open();
        const QDateTime first = now;
        store->sessionStarted(now);
        now = now.addSecs(10);
        store->sessionStarted(now);
        QCOMPARE(store->contents().sessions, QList<UsageStore::Session>({ { first, std::nullopt } }));
        store->sessionEnded(now);
        now = now.addSecs(10);
        QVERIFY(store->flush());
        QVERIFY(QFile::remove(path));
        store->sessionEnded(now); // nothing open: nothing changes, nothing is written
        QVERIFY(store->flush());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(store->contents().sessions, QList<UsageStore::Session>({ { first, first.addSecs(10) } }));
        QCOMPARE(store->contents().lastSeen, first.addSecs(10));
    }

    void sessionsNeverOverlap()
    {
        const auto store = open();
        // The times are the caller's, not the store's clock.
        const QDateTime start = now.addSecs(-120);
        store->sessionStarted(start);
        // An end before the start (a clock set back) ends it at its start.
        store->sessionEnded(start.addSecs(-30));
        // A start before the previous end begins at that end.
        store->sessionStarted(start.addSecs(-60));
        store->sessionEnded(start.addSecs(60));
        const QList<UsageStore::Session> expected{ { start, start }, { start, start.addSecs(60) } };
        QCOMPARE(store->contents().sessions, expected);
        QCOMPARE(store->contents().lastSeen, start.addSecs(60));
        QCOMPARE(store->summary(1, 5).days.at(0).seconds, 60.0);
    }

    void sampleCountsEachNameOncePerDay()
    {
        const auto store = open();
        store->recordSample({ u"Mail"_s, u"Mail"_s, u"Music"_s, QString() });
        store->recordSample({ u"Mail"_s });
        now = local(2026, 3, 11, 0, 30);
        store->recordSample({ u"Mail"_s });
        store->recordSample({});
        QCOMPARE(store->contents().lastSeen, now);

        const auto &days = store->contents().appMinutes;
        QCOMPARE(days.size(), 2);
        QCOMPARE(days.value(local(2026, 3, 10, 0)), (QMap<QString, qint64>{ { u"Mail"_s, 2 }, { u"Music"_s, 1 } }));
        QCOMPARE(days.value(local(2026, 3, 11, 0)), (QMap<QString, qint64>{ { u"Mail"_s, 1 } }));
    }

    void sessionAcrossMidnightSplitsIntoDays()
    {
        const auto store = open();
        now = local(2026, 3, 9, 23);
        store->sessionStarted(now);
        now = local(2026, 3, 10, 1);
        store->sessionEnded(now);
        // Still running: counts up to now.
        now = local(2026, 3, 10, 9);
        store->sessionStarted(now);
        now = local(2026, 3, 10, 9, 30);

        const UsageSummary summary = store->summary(3, 5);
        QCOMPARE(summary.days.size(), 3);
        QCOMPARE(summary.days.at(0), DailyUsage({ local(2026, 3, 8, 0), 0 }));
        QCOMPARE(summary.days.at(1), DailyUsage({ local(2026, 3, 9, 0), 3600 }));
        QCOMPARE(summary.days.at(2), DailyUsage({ local(2026, 3, 10, 0), 3600 + 1800 }));
    }

    void daylightSavingDaysHave23And25Hours_data()
    {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<int>("hours");
        QTest::newRow("spring forward") << QDate(2026, 3, 29) << 23;
        QTest::newRow("fall back") << QDate(2026, 10, 25) << 25;
        QTest::newRow("ordinary day") << QDate(2026, 6, 1) << 24;
    }

    void daylightSavingDaysHave23And25Hours()
    {
        QFETCH(QDate, day);
        QFETCH(int, hours);
        const QDate before = day.addDays(-1);
        const QDate after = day.addDays(1);
        now = local(before.year(), before.month(), before.day(), 12);
        const auto store = open();
        store->sessionStarted(now);
        now = local(after.year(), after.month(), after.day(), 12);
        store->sessionEnded(now);
        store->recordSample({ u"Mail"_s });

        const UsageSummary summary = store->summary(3, 5);
        QCOMPARE(summary.days.size(), 3);
        QCOMPARE(summary.days.at(0).date, local(before.year(), before.month(), before.day(), 0));
        QCOMPARE(summary.days.at(1).date, day.startOfDay(berlin));
        QCOMPARE(summary.days.at(2).date, local(after.year(), after.month(), after.day(), 0));
        QCOMPARE(summary.days.at(1).seconds, hours * 3600.0);
        QCOMPARE(summary.days.at(0).seconds, 12 * 3600.0);
        QCOMPARE(summary.days.at(2).seconds, 12 * 3600.0);
        // The sample is filed under the local day's start and found by it.
        QCOMPARE(summary.apps, QList<AppUsage>({ { u"Mail"_s, 1 } }));
    }

    void pruningKeepsThirtyDays()
    {
        const auto store = open();
        now = local(2026, 2, 1, 10); // 37 days before 10 March
        store->recordSample({ u"Old"_s });
        now = local(2026, 2, 7, 23); // the day before the cutoff's day
        store->recordSample({ u"Before"_s });
        store->sessionStarted(now);
        now = local(2026, 2, 8, 10);
        store->sessionEnded(now); // ends an hour before the cutoff of the 11:00 prune below
        now = local(2026, 2, 8, 23); // the cutoff's own day, after the cutoff time
        store->recordSample({ u"Cutoff"_s });
        store->sessionStarted(now);
        now = local(2026, 2, 9, 1);
        store->sessionEnded(now); // ends 29 days and 9 hours earlier: kept
        now = local(2026, 3, 10, 9);
        store->recordSample({ u"Recent"_s });
        QCOMPARE(store->contents().sessions.size(), 2);

        now = local(2026, 3, 10, 11);
        store->recordSample({});
        QCOMPARE(store->contents().sessions.size(), 1);
        QCOMPARE(store->contents().sessions.at(0).start, local(2026, 2, 8, 23));
        QCOMPARE(
            store->contents().appMinutes.keys(), QList<QDateTime>({ local(2026, 2, 8, 0), local(2026, 3, 10, 0) }));

        // The same cut applies when another run loads the file.
        QVERIFY(store->flush());
        now = local(2026, 3, 11, 2);
        QCOMPARE(open()->contents().appMinutes.keys(), QList<QDateTime>({ local(2026, 3, 10, 0) }));
    }

    void summaryOrdersAndCutsApps()
    {
        const auto store = open();
        const QStringList names{ u"G"_s, u"F"_s, u"E"_s, u"D"_s, u"C"_s, u"B"_s, u"A"_s };
        // G and F one minute, then E, D, C, B, A two each with C three.
        store->recordSample(names);
        store->recordSample({ u"E"_s, u"D"_s, u"C"_s, u"B"_s, u"A"_s });
        store->recordSample({ u"C"_s });
        now = local(2026, 3, 9, 12); // yesterday, outside a one-day summary
        store->recordSample({ u"Z"_s });
        now = local(2026, 3, 10, 12);

        const UsageSummary summary = store->summary(1, 5);
        const QList<AppUsage> expected{
            { u"C"_s, 3 },
            { u"A"_s, 2 },
            { u"B"_s, 2 },
            { u"D"_s, 2 },
            { u"E"_s, 2 },
        };
        QCOMPARE(summary.apps, expected);
        QCOMPARE(store->summary(2, 100).apps.size(), 8);
        QCOMPARE(store->summary(2, 0).apps, QList<AppUsage>());
    }

    void oddCountsAreSafe()
    {
        const auto store = open();
        store->sessionStarted(now);
        store->recordSample({ u"Mail"_s });
        // A negative count asks for nothing.
        QCOMPARE(store->summary(-1, 5), UsageSummary());
        QCOMPARE(store->summary(-7, -5), UsageSummary());
        QCOMPARE(store->summary(0, 5), UsageSummary());
        QCOMPARE(store->summary(1, -1).apps, QList<AppUsage>());
        QCOMPARE(store->summary(1, -1).days.size(), 1);
        // A huge one is capped instead of exhausting memory.
        QCOMPARE(store->summary(std::numeric_limits<int>::max(), 5).days.size(), UsageStore::maximumSummaryDays);
    }

    void clearKeepsARunningSession()
    {
        const auto store = open();
        store->sessionStarted(now);
        now = now.addSecs(300);
        store->recordSample({ u"Mail"_s });
        now = now.addSecs(300);
        store->clear();
        QCOMPARE(store->contents().sessions, QList<UsageStore::Session>({ { now, std::nullopt } }));
        QCOMPARE(store->contents().appMinutes, (QMap<QDateTime, QMap<QString, qint64>>()));
        QCOMPARE(store->contents().lastSeen, now);
        QVERIFY(store->flush());
        QCOMPARE(readObject(path).value(u"sessions").toArray().size(), 1);

        now = now.addSecs(60);
        store->sessionEnded(now);
        store->clear();
        QCOMPARE(store->contents(), UsageStore::Contents());
        QVERIFY(store->flush());
        QCOMPARE(readObject(path).keys(), QStringList({ u"appMinutes"_s, u"sessions"_s }));
    }

    void memoryOnlyWithoutPath()
    {
        UsageStore store(QString(), [this] { return now; });
        store.sessionStarted(now);
        store.recordSample({ u"Mail"_s });
        QCOMPARE(store.summary(1, 5).apps.size(), 1);
        QVERIFY(QDir::current().entryList({ u"usage.json*"_s }).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUsageStore)
#include "tst_usagestore.moc"
