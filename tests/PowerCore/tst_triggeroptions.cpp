#include "TriggerOptions.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The busy trigger's thresholds as typed on the command line and in the
// window, and as shown back.
class TestTriggerOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ratesInBytesPerSecond()
    {
        const QList<QPair<QString, qint64>> rates{ { u"100k"_s, 100'000 }, { u"100K"_s, 100'000 },
            { u"1M"_s, 1'000'000 }, { u"1.5M"_s, 1'500'000 }, { u"2000"_s, 2000 }, { u" 250kB/s "_s, 250'000 },
            { u"3kb"_s, 3000 }, { u"1G"_s, 1'000'000'000 } };
        for (const auto &[text, bytes] : rates) {
            const auto parsed = TriggerOptions::parseRate(text);
            QVERIFY2(parsed, qPrintable(text));
            QCOMPARE(parsed.value(), bytes);
        }
        for (const QString &bad : { u""_s, u"k"_s, u"100x"_s, u"-5k"_s, u"0"_s, u"0.0001k"_s, u"1,5M"_s }) {
            const auto parsed = TriggerOptions::parseRate(bad);
            QVERIFY2(!parsed, qPrintable(bad));
            QVERIFY2(parsed.error().contains(u"\"%1\""_s.arg(bad)), qPrintable(parsed.error()));
        }
        QCOMPARE(TriggerOptions::parseRate(u"fast"_s).error(), u"잘못된 전송 속도입니다: \"fast\" (예: 100k, 1M)"_s);
    }

    void percentOfTheProcessors()
    {
        QCOMPARE(TriggerOptions::parsePercent(u"50"_s).value(), 50);
        QCOMPARE(TriggerOptions::parsePercent(u"75%"_s).value(), 75);
        QCOMPARE(TriggerOptions::parsePercent(u"100"_s).value(), 100);
        for (const QString &bad : { u"0"_s, u"101"_s, u"half"_s, u""_s, u"5.5"_s })
            QVERIFY2(!TriggerOptions::parsePercent(bad), qPrintable(bad));
        QCOMPARE(
            TriggerOptions::parsePercent(u"150"_s).error(), u"CPU 사용량은 1부터 100까지의 퍼센트입니다: \"150\""_s);
    }

    void settleTimes()
    {
        const QList<QPair<QString, qint64>> lengths{ { u"30s"_s, 30 }, { u"2m"_s, 120 }, { u"1h"_s, 3600 },
            { u"1m30s"_s, 90 }, { u"1h2m3s"_s, 3723 }, { u"45"_s, 45 }, { u"2M"_s, 120 }, { u"24h"_s, 86400 } };
        for (const auto &[text, seconds] : lengths) {
            const auto parsed = TriggerOptions::parseSettle(text);
            QVERIFY2(parsed, qPrintable(text));
            QCOMPARE(parsed.value(), seconds);
        }
        for (const QString &bad : { u""_s, u"0s"_s, u"2x"_s, u"m"_s, u"1h-5m"_s, u"25h"_s, u"2m 30s"_s })
            QVERIFY2(!TriggerOptions::parseSettle(bad), qPrintable(bad));
        QCOMPARE(
            TriggerOptions::parseSettle(u"soon"_s).error(), u"잘못된 시간 길이입니다: \"soon\" (예: 30s, 2m, 1h)"_s);
        QCOMPARE(TriggerOptions::parseSettle(u"2d"_s).error(), u"잘못된 시간 길이입니다: \"2d\" (예: 30s, 2m, 1h)"_s);
        QCOMPARE(TriggerOptions::parseSettle(u"48h"_s).error(), u"시간 길이는 하루를 넘을 수 없습니다: \"48h\""_s);
    }

    // What is shown parses back to the same value.
    void shownValuesReadBack()
    {
        for (const qint64 bytes : { qint64(900), qint64(100'000), qint64(1'500'000), qint64(123'456) }) {
            const QString shown = TriggerOptions::rateText(bytes);
            QCOMPARE(TriggerOptions::parseRate(shown).value(), bytes);
        }
        QCOMPARE(TriggerOptions::rateText(100'000), u"100k"_s);
        for (const qint64 seconds : { qint64(45), qint64(120), qint64(90), qint64(3723), qint64(3600) }) {
            const QString shown = TriggerOptions::settleText(seconds);
            QCOMPARE(TriggerOptions::parseSettle(shown).value(), seconds);
        }
        QCOMPARE(TriggerOptions::settleText(90), u"1m30s"_s);
        QCOMPARE(TriggerOptions::optionsText({ { u"settle"_s, 120 }, { u"net"_s, 100'000 }, { u"cpu"_s, 50 } }),
            u"net 100k, cpu 50%, settle 2m"_s);
        QCOMPARE(
            TriggerOptions::optionsText({ { u"schedule"_s, u"mon-fri 09:00-18:00"_s } }), u"\"mon-fri 09:00-18:00\""_s);
    }

    // A text store gives every value back as text.
    void storedTextsBecomeNumbersAgain()
    {
        const QVariantMap options = TriggerOptions::fromStored(
            { { u"net"_s, u"100000"_s }, { u"schedule"_s, u"mon-fri 09:00-18:00"_s }, { u"odd"_s, u"12a"_s } });
        QCOMPARE(options.value(u"net"_s).typeId(), QMetaType::LongLong);
        QCOMPARE(options.value(u"net"_s).toLongLong(), 100000);
        QCOMPARE(options.value(u"schedule"_s), QVariant(u"mon-fri 09:00-18:00"_s));
        QCOMPARE(options.value(u"odd"_s), QVariant(u"12a"_s));
    }
};

QTEST_GUILESS_MAIN(TestTriggerOptions)
#include "tst_triggeroptions.moc"
