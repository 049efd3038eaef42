#include "SessionLength.h"
#include "TimedSession.h"

#include <QTest>

// Session lengths as typed, clock times resolved in a zone (across midnight
// and both DST changes), and the session's own bookkeeping.
class TestSessionLength : public QObject
{
    Q_OBJECT

    static QDateTime utc(const QString &text) { return QDateTime::fromString(text, Qt::ISODate).toUTC(); }

    static QTimeZone berlin()
    {
        const QTimeZone zone("Europe/Berlin");
        return zone;
    }

private Q_SLOTS:
    void durations_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("hours") << QStringLiteral("2h") << qint64(7200);
        QTest::newRow("minutes") << QStringLiteral("90m") << qint64(5400);
        QTest::newRow("both") << QStringLiteral("1h30m") << qint64(5400);
        QTest::newRow("seconds") << QStringLiteral("45s") << qint64(45);
        QTest::newRow("all three") << QStringLiteral("1h2m3s") << qint64(3723);
        QTest::newRow("zero minutes") << QStringLiteral("1h0m") << qint64(3600);
        QTest::newRow("upper case") << QStringLiteral("1H30M") << qint64(5400);
        QTest::newRow("blanks around") << QStringLiteral(" 15m ") << qint64(900);
        QTest::newRow("a whole week") << QStringLiteral("168h") << qint64(604800);
    }

    void durations()
    {
        QFETCH(QString, text);
        QFETCH(qint64, seconds);
        const auto parsed = SessionLength::parseDuration(text);
        QVERIFY2(parsed, qPrintable(parsed ? QString() : parsed.error()));
        QCOMPARE(parsed.value(), seconds);
    }

    void badDurationsSayWhatIsWrong_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("says");
        for (const char *text : { "", "90", "h", "1.5h", "-1h", "30m1h", "1h1h", "1h 30m", "2 h", "abc", "1d", "m30" })
            QTest::newRow(*text ? text : "empty") << QString::fromUtf8(text) << QStringLiteral("잘못된 시간 길이");
        QTest::newRow("nothing long") << QStringLiteral("0h0m") << QStringLiteral("0보다");
        QTest::newRow("over a week") << QStringLiteral("168h1s") << QStringLiteral("7일");
        QTest::newRow("overflowing") << QStringLiteral("999999h") << QStringLiteral("7일");
    }

    void badDurationsSayWhatIsWrong()
    {
        QFETCH(QString, text);
        QFETCH(QString, says);
        const auto parsed = SessionLength::parseDuration(text);
        QVERIFY(!parsed);
        QVERIFY2(parsed.error().contains(says), qPrintable(parsed.error()));
        QVERIFY2(parsed.error().contains(QLatin1Char('"') + text + QLatin1Char('"')), qPrintable(parsed.error()));
    }

    void clockTimes()
    {
        QCOMPARE(SessionLength::parseClockTime(QStringLiteral("18:30")).value(), QTime(18, 30));
        QCOMPARE(SessionLength::parseClockTime(QStringLiteral("7:05")).value(), QTime(7, 5));
        QCOMPARE(SessionLength::parseClockTime(QStringLiteral("0:00")).value(), QTime(0, 0));
        QCOMPARE(SessionLength::parseClockTime(QStringLiteral("23:59")).value(), QTime(23, 59));
        for (const char *bad :
            { "24:00", "18:60", "1830", "18:5", "", "18:30:00", "-1:00", "6pm", "18.30", "123:00" }) {
            const auto parsed = SessionLength::parseClockTime(QString::fromUtf8(bad));
            QVERIFY2(!parsed, bad);
            QVERIFY(parsed.error().contains(QStringLiteral("잘못된 시각")));
        }
    }

    void aClockTimeIsTheNextOneToCome()
    {
        const QTimeZone seoul("Asia/Seoul");
        if (!seoul.isValid())
            QSKIP("no time zone data");
        // 10:00 in Seoul (UTC+9).
        const QDateTime now = utc(QStringLiteral("2026-06-10T01:00:00Z"));
        QCOMPARE(SessionLength::nextOccurrence(now, QTime(18, 30), seoul), utc(QStringLiteral("2026-06-10T09:30:00Z")));
        // Passed today, or this very minute: tomorrow.
        QCOMPARE(SessionLength::nextOccurrence(now, QTime(9, 0), seoul), utc(QStringLiteral("2026-06-11T00:00:00Z")));
        QCOMPARE(SessionLength::nextOccurrence(now, QTime(10, 0), seoul), utc(QStringLiteral("2026-06-11T01:00:00Z")));
        // Across midnight: at 23:00, 01:00 is two hours off.
        const QDateTime late = utc(QStringLiteral("2026-06-10T14:00:00Z"));
        QCOMPARE(late.secsTo(SessionLength::nextOccurrence(late, QTime(1, 0), seoul)), qint64(7200));
        // The last day of a year.
        const QDateTime newYearsEve = utc(QStringLiteral("2026-12-31T14:30:00Z"));
        QCOMPARE(SessionLength::nextOccurrence(newYearsEve, QTime(0, 15), seoul),
            utc(QStringLiteral("2026-12-31T15:15:00Z")));
    }

    void aClockTimeAcrossSpringForward()
    {
        if (!berlin().isValid())
            QSKIP("no time zone data");
        // 2026-03-29: at 02:00 CET Berlin's clocks jump to 03:00 CEST.
        const QDateTime oneAm = utc(QStringLiteral("2026-03-29T00:00:00Z")); // 01:00 CET
        // Four on the clock is two real hours away, not three.
        QCOMPARE(
            SessionLength::nextOccurrence(oneAm, QTime(4, 0), berlin()), utc(QStringLiteral("2026-03-29T02:00:00Z")));
        // 02:30 never shows that night: the moment a clock set forward reads 03:30.
        QCOMPARE(
            SessionLength::nextOccurrence(oneAm, QTime(2, 30), berlin()), utc(QStringLiteral("2026-03-29T01:30:00Z")));
        // The evening before, across midnight and the change: 23:00 CET to 06:00 CEST is six hours.
        const QDateTime evening = utc(QStringLiteral("2026-03-28T22:00:00Z"));
        QCOMPARE(evening.secsTo(SessionLength::nextOccurrence(evening, QTime(6, 0), berlin())), qint64(6 * 3600));
    }

    void aClockTimeAcrossFallBack()
    {
        if (!berlin().isValid())
            QSKIP("no time zone data");
        // 2026-10-25: at 03:00 CEST Berlin's clocks go back to 02:00 CET, so
        // 02:30 shows twice.
        const QDateTime oneAm = utc(QStringLiteral("2026-10-24T23:00:00Z")); // 01:00 CEST
        QCOMPARE(
            SessionLength::nextOccurrence(oneAm, QTime(2, 30), berlin()), utc(QStringLiteral("2026-10-25T00:30:00Z")));
        // Once the first showing has passed, the second one comes next.
        const QDateTime between = utc(QStringLiteral("2026-10-25T00:45:00Z")); // 02:45 CEST
        QCOMPARE(SessionLength::nextOccurrence(between, QTime(2, 30), berlin()),
            utc(QStringLiteral("2026-10-25T01:30:00Z")));
        // And after both, tomorrow's.
        const QDateTime after = utc(QStringLiteral("2026-10-25T01:45:00Z")); // 02:45 CET
        QCOMPARE(
            SessionLength::nextOccurrence(after, QTime(2, 30), berlin()), utc(QStringLiteral("2026-10-26T01:30:00Z")));
        // 22:00 CEST to 06:00 CET is nine real hours.
        const QDateTime evening = utc(QStringLiteral("2026-10-24T20:00:00Z"));
        QCOMPARE(evening.secsTo(SessionLength::nextOccurrence(evening, QTime(6, 0), berlin())), qint64(9 * 3600));
    }

    void aLengthIsRealTimeWhateverTheClocksDo()
    {
        // Two hours from 01:30 CET on the spring-forward night end at 04:30 CEST.
        const QDateTime start = utc(QStringLiteral("2026-03-29T00:30:00Z"));
        const auto end = TimedSession::endAfter(start, 7200);
        QCOMPARE(end.value(), utc(QStringLiteral("2026-03-29T02:30:00Z")));
        if (berlin().isValid())
            QCOMPARE(end.value().toTimeZone(berlin()).time(), QTime(4, 30));
        QCOMPARE(TimedSession::endAfter(start, 0).error(), TimedSession::invalidDuration());
        QCOMPARE(TimedSession::endAfter(start, -5).error(), TimedSession::invalidDuration());
        QCOMPARE(
            TimedSession::endAfter(start, SessionLength::longestSeconds + 1).error(), TimedSession::invalidDuration());
    }

    void requestedEndsMustLieAhead()
    {
        const QDateTime now = utc(QStringLiteral("2026-06-10T12:00:00Z"));
        QCOMPARE(TimedSession::endAt(now, now).error(), TimedSession::invalidEndTime());
        QCOMPARE(TimedSession::endAt(now, now.addSecs(-1)).error(), TimedSession::invalidEndTime());
        QCOMPARE(TimedSession::endAt(now, QDateTime()).error(), TimedSession::invalidEndTime());
        QCOMPARE(TimedSession::endAt(now, now.addDays(8)).error(), TimedSession::invalidEndTime());
        QCOMPARE(TimedSession::endAt(now, now.addSecs(60)).value(), now.addSecs(60));
        QVERIFY(!TimedSession::isValidKinds(0));
        QVERIFY(!TimedSession::isValidKinds(4));
        QVERIFY(!TimedSession::isValidKinds(-1));
        QVERIFY(TimedSession::isValidKinds(1) && TimedSession::isValidKinds(2) && TimedSession::isValidKinds(3));
    }

    void aSessionCountsDownAndEnds()
    {
        const QDateTime now = utc(QStringLiteral("2026-06-10T12:00:00Z"));
        TimedSession session;
        QVERIFY(!session.isRunning());
        QCOMPARE(session.remainingSeconds(now), qint64(0));
        QVERIFY(!session.hasEnded(now));

        session.start(1, 1, now.addSecs(90));
        QCOMPARE(session.remainingSeconds(now), qint64(90));
        // Rounded up: a part of a second left still counts.
        QCOMPARE(session.remainingSeconds(now.addMSecs(89'001)), qint64(1));
        QVERIFY(!session.hasEnded(now.addMSecs(89'999)));
        QVERIFY(session.hasEnded(now.addSecs(90)));
        QCOMPARE(session.remainingSeconds(now.addSecs(91)), qint64(0));
    }

    void extendingKeepsWhatEitherTurnedOn()
    {
        const QDateTime now = utc(QStringLiteral("2026-06-10T12:00:00Z"));
        TimedSession session;
        // System sleep was on already: the session covers it but did not turn it on.
        session.start(1, 0, now.addSecs(60));
        session.start(2, 2, now.addSecs(30));
        QCOMPARE(session.kinds(), qint64(3));
        QCOMPARE(session.turnedOn(), qint64(2));
        QCOMPARE(session.endsAt(), now.addSecs(30)); // the later request decides the end
        QCOMPARE(session.stop(), qint64(2));
        QVERIFY(!session.isRunning());
        QCOMPARE(session.kinds(), qint64(0));
        // A new session starts from nothing.
        session.start(1, 1, now.addSecs(60));
        QCOMPARE(session.kinds(), qint64(1));
        QCOMPARE(session.turnedOn(), qint64(1));
    }
};

QTEST_GUILESS_MAIN(TestSessionLength)
#include "tst_sessionlength.moc"
