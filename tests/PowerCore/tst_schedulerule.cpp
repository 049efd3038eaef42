#include "ScheduleRule.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Weekly schedules as typed: days, ranges across midnight, the texts that
// are refused and why, and the edges on clocks that change for DST.
class TestScheduleRule : public QObject
{
    Q_OBJECT

    static QTimeZone zone(const char *name)
    {
        const QTimeZone found(name);
        return found;
    }
    // A moment given in UTC, read on the zone's clock.
    static QDateTime at(const char *utc, const QTimeZone &zone)
    {
        return QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODate).toTimeZone(zone);
    }
    // A wall time in the zone (one the clock shows exactly once).
    static QDateTime wall(const char *local, const QTimeZone &zone)
    {
        return QDateTime(QDateTime::fromString(QString::fromLatin1(local), Qt::ISODate).date(),
            QDateTime::fromString(QString::fromLatin1(local), Qt::ISODate).time(), zone);
    }
    static ScheduleRule parsed(const char *text)
    {
        const auto rule = ScheduleRule::parse(QString::fromUtf8(text));
        if (!rule)
            qFatal("%s: %s", text, qUtf8Printable(rule.error()));
        return rule.value();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(zone("Europe/Berlin").isValid());
        QVERIFY(zone("America/New_York").isValid());
    }

    void summaries_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("summary");
        QTest::newRow("weekdays") << u"mon-fri 09:00-18:00"_s << u"평일 09:00–18:00"_s;
        QTest::newRow("weekend") << u"sat,sun 10:00-14:00"_s << u"주말 10:00–14:00"_s;
        QTest::newRow("list") << u"mon,wed,fri 08:00-12:30"_s << u"월·수·금 08:00–12:30"_s;
        QTest::newRow("daily across midnight") << u"daily 22:00-02:00"_s << u"매일 22:00–02:00"_s;
        QTest::newRow("star, whole day") << u"* 00:00-24:00"_s << u"매일 00:00–24:00"_s;
        QTest::newRow("a range past sunday, upper case, one-digit hour")
            << u"  FRI-MON 9:05-17:00 "_s << u"월·금·토·일 09:05–17:00"_s;
        QTest::newRow("range and day") << u"mon-fri,sun 07:00-08:00"_s << u"월·화·수·목·금·일 07:00–08:00"_s;
        QTest::newRow("weekdays and saturday are not weekdays")
            << u"mon-sat 07:00-08:00"_s << u"월·화·수·목·금·토 07:00–08:00"_s;
        QTest::newRow("one day") << u"sun 23:00-00:30"_s << u"일 23:00–00:30"_s;
    }

    void summaries()
    {
        QFETCH(QString, text);
        QFETCH(QString, summary);
        const auto rule = ScheduleRule::parse(text);
        QVERIFY2(rule, qUtf8Printable(rule ? QString() : rule.error()));
        QCOMPARE(rule.value().summary(), summary);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("named"); // what the error must name
        QTest::newRow("empty") << u"  "_s << u"비어 있습니다"_s;
        QTest::newRow("no range") << u"mon-fri"_s << u"요일과 시간 범위"_s;
        QTest::newRow("no days") << u"09:00-18:00"_s << u"요일과 시간 범위"_s;
        QTest::newRow("three parts") << u"mon 09:00 - 18:00"_s << u"요일과 시간 범위"_s;
        QTest::newRow("unknown day") << u"funday 09:00-18:00"_s << u"\"funday\""_s;
        QTest::newRow("korean day") << u"월 09:00-18:00"_s << u"\"월\""_s;
        QTest::newRow("empty day in a list") << u"mon,,fri 09:00-18:00"_s << u"알 수 없는 요일: \"\""_s;
        QTest::newRow("three-day range") << u"mon-wed-fri 09:00-18:00"_s << u"\"mon-wed-fri\""_s;
        QTest::newRow("hours only") << u"mon 9-18"_s << u"\"9\""_s;
        QTest::newRow("no end") << u"mon 09:00"_s << u"\"09:00\""_s;
        QTest::newRow("hour too large") << u"mon 25:00-26:00"_s << u"\"25:00\""_s;
        QTest::newRow("minute too large") << u"mon 09:60-10:00"_s << u"\"09:60\""_s;
        QTest::newRow("24:00 cannot start") << u"mon 24:00-01:00"_s << u"\"24:00\""_s;
        QTest::newRow("past 24:00") << u"mon 09:00-24:01"_s << u"\"24:01\""_s;
        QTest::newRow("same start and end") << u"mon 09:00-09:00"_s << u"같습니다"_s;
    }

    void refusals()
    {
        QFETCH(QString, text);
        QFETCH(QString, named);
        const auto rule = ScheduleRule::parse(text);
        QVERIFY(!rule);
        QVERIFY2(rule.error().contains(named), qUtf8Printable(rule.error()));
    }

    void weekdaysOfficeHours()
    {
        const QTimeZone berlin = zone("Europe/Berlin");
        const ScheduleRule rule = parsed("mon-fri 09:00-18:00");
        // 2026-12-07 is a Monday.
        QVERIFY(!rule.contains(wall("2026-12-07T08:59:59", berlin)));
        QVERIFY(rule.contains(wall("2026-12-07T09:00:00", berlin)));
        QVERIFY(rule.contains(wall("2026-12-07T17:59:59", berlin)));
        QVERIFY(!rule.contains(wall("2026-12-07T18:00:00", berlin)));
        QVERIFY(rule.contains(wall("2026-12-11T12:00:00", berlin))); // Friday
        QVERIFY(!rule.contains(wall("2026-12-12T12:00:00", berlin))); // Saturday

        QCOMPARE(rule.nextEdge(wall("2026-12-07T08:00:00", berlin)), wall("2026-12-07T09:00:00", berlin));
        // At an edge, the next one.
        QCOMPARE(rule.nextEdge(wall("2026-12-07T09:00:00", berlin)), wall("2026-12-07T18:00:00", berlin));
        QCOMPARE(rule.nextEdge(wall("2026-12-11T18:00:00", berlin)), wall("2026-12-14T09:00:00", berlin));
        QCOMPARE(rule.nextEdge(wall("2026-12-12T12:00:00", berlin)), wall("2026-12-14T09:00:00", berlin));
        // Answered on the clock it was asked on.
        QCOMPARE(rule.nextEdge(wall("2026-12-07T08:00:00", berlin)).timeZone(), berlin);
    }

    void theDayNamesTheStartAcrossMidnight()
    {
        const QTimeZone berlin = zone("Europe/Berlin");
        const ScheduleRule rule = parsed("fri 22:00-02:00");
        QVERIFY(!rule.contains(wall("2026-12-11T21:59:59", berlin)));
        QVERIFY(rule.contains(wall("2026-12-11T22:00:00", berlin)));
        QVERIFY(rule.contains(wall("2026-12-12T00:00:00", berlin)));
        QVERIFY(rule.contains(wall("2026-12-12T01:59:59", berlin)));
        QVERIFY(!rule.contains(wall("2026-12-12T02:00:00", berlin)));
        // Friday's early hours belong to Thursday's night, which is not set.
        QVERIFY(!rule.contains(wall("2026-12-11T01:00:00", berlin)));
        QVERIFY(!rule.contains(wall("2026-12-13T01:00:00", berlin)));

        QCOMPARE(rule.nextEdge(wall("2026-12-11T23:00:00", berlin)), wall("2026-12-12T02:00:00", berlin));
        QCOMPARE(rule.nextEdge(wall("2026-12-12T02:00:00", berlin)), wall("2026-12-18T22:00:00", berlin));

        // Up to the end of the day.
        const ScheduleRule late = parsed("sun 20:00-24:00");
        QVERIFY(late.contains(wall("2026-12-13T23:59:59", berlin)));
        QVERIFY(!late.contains(wall("2026-12-14T00:00:00", berlin)));
        QCOMPARE(late.nextEdge(wall("2026-12-13T21:00:00", berlin)), wall("2026-12-14T00:00:00", berlin));
    }

    void springForwardSkipsTheStart()
    {
        // Berlin, 2026-03-29: at 01:00 UTC the clocks go from 02:00 to 03:00.
        const QTimeZone berlin = zone("Europe/Berlin");
        const ScheduleRule rule = parsed("sun 02:30-04:00");
        const QDateTime gap = at("2026-03-29T01:00:00Z", berlin);
        QCOMPARE(rule.nextEdge(at("2026-03-28T23:00:00Z", berlin)), gap);
        QVERIFY(!rule.contains(gap.addSecs(-1)));
        QVERIFY(rule.contains(gap));
        QCOMPARE(rule.nextEdge(gap), at("2026-03-29T02:00:00Z", berlin)); // 04:00 CEST
        QVERIFY(!rule.contains(at("2026-03-29T02:00:00Z", berlin)));

        // A span wholly inside the gap never holds, and its empty edge is passed.
        const QTimeZone newYork = zone("America/New_York");
        const ScheduleRule skipped = parsed("daily 02:15-02:45");
        const QDateTime change = at("2026-03-08T07:00:00Z", newYork); // 02:00 EST becomes 03:00 EDT
        QVERIFY(!skipped.contains(change));
        QVERIFY(!skipped.contains(change.addSecs(-1)));
        QCOMPARE(skipped.nextEdge(change), at("2026-03-09T06:15:00Z", newYork)); // 02:15 EDT the next day
    }

    void autumnRepeatedHourFiresOnce()
    {
        // Berlin, 2026-10-25: at 01:00 UTC the clocks go from 03:00 back to 02:00.
        const QTimeZone berlin = zone("Europe/Berlin");
        const ScheduleRule rule = parsed("sun 02:30-05:00");
        const QDateTime first = at("2026-10-25T00:30:00Z", berlin); // 02:30 CEST
        QCOMPARE(rule.nextEdge(at("2026-10-24T22:00:00Z", berlin)), first);
        QVERIFY(rule.contains(first));
        // The second showing of 02:30 (01:30 UTC) is no edge: the next is 05:00 CET.
        QCOMPARE(rule.nextEdge(first), at("2026-10-25T04:00:00Z", berlin));
        QVERIFY(rule.contains(at("2026-10-25T01:30:00Z", berlin)));

        // New York, 2026-11-01: 02:00 EDT becomes 01:00 EST; 01:30-01:45 shows twice.
        const QTimeZone newYork = zone("America/New_York");
        const ScheduleRule twice = parsed("daily 01:30-01:45");
        QCOMPARE(twice.nextEdge(at("2026-11-01T04:00:00Z", newYork)), at("2026-11-01T05:30:00Z", newYork));
        QCOMPARE(twice.nextEdge(at("2026-11-01T05:30:00Z", newYork)), at("2026-11-01T05:45:00Z", newYork));
        QCOMPARE(twice.nextEdge(at("2026-11-01T05:45:00Z", newYork)), at("2026-11-02T06:30:00Z", newYork));
        QVERIFY(!twice.contains(at("2026-11-01T06:35:00Z", newYork)));
    }

    void edgesWalkTheWeekWithoutGaps()
    {
        // Walking edge to edge, the schedule flips at each one and a week has
        // one start and one end per day set, on whatever clock.
        for (const char *name : { "Europe/Berlin", "America/New_York", "UTC" }) {
            const QTimeZone here = zone(name);
            const ScheduleRule rule = parsed("mon,wed,fri 23:00-01:00");
            QDateTime now = wall("2026-03-23T12:00:00", here); // a Monday, DST weeks around it
            int edges = 0;
            bool inside = rule.contains(now);
            while (true) {
                const QDateTime next = rule.nextEdge(now);
                QVERIFY(next > now);
                if (next > wall("2026-03-30T12:00:00", here))
                    break;
                QCOMPARE(rule.contains(next), !inside);
                inside = !inside;
                now = next;
                ++edges;
            }
            QCOMPARE(edges, 6);
        }
    }
};

QTEST_GUILESS_MAIN(TestScheduleRule)
#include "tst_schedulerule.moc"
