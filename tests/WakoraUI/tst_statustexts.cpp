#include "DurationText.h"
#include "Headline.h"
#include "InterfaceLocale.h"
#include "PowerSettingRow.h"

#include <QTest>

// The texts the window and the panel compose: durations, the headline and
// the power-setting rows.
class TestStatusTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void durations_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("usage");
        QTest::addColumn<QString>("hoursAndMinutes");

        QTest::newRow("zero") << 0.0 << QStringLiteral("0분") << QStringLiteral("0분");
        QTest::newRow("under a minute") << 59.0 << QStringLiteral("0분") << QStringLiteral("0분");
        QTest::newRow("an hour less a second") << 3599.0 << QStringLiteral("59분") << QStringLiteral("59분");
        QTest::newRow("an hour") << 3600.0 << QStringLiteral("1시간") << QStringLiteral("1시간");
        QTest::newRow("an hour and a half") << 5400.0 << QStringLiteral("1시간 30분") << QStringLiteral("1시간 30분");
        QTest::newRow("two days") << 2 * 86400.0 + 61 << QStringLiteral("48시간 1분") << QStringLiteral("48시간 1분");
        QTest::newRow("negative") << -30.0 << QStringLiteral("0분") << QStringLiteral("0분");
    }

    void durations()
    {
        QFETCH(double, seconds);
        QFETCH(QString, usage);
        QFETCH(QString, hoursAndMinutes);
        QCOMPARE(DurationText::usage(seconds), usage);
        QCOMPARE(DurationText::hoursAndMinutes(seconds), hoursAndMinutes);
    }

    void minutesOnlyNeverNamesHours()
    {
        QCOMPARE(DurationText::minutes(5400), QStringLiteral("90분"));
        QCOMPARE(DurationText::usage(std::nan("")), QString());
    }

    void timeLeftNeverReadsLessThanWhatIsLeft()
    {
        QCOMPARE(DurationText::remaining(7200), QStringLiteral("2시간 남음"));
        QCOMPARE(DurationText::remaining(7199), QStringLiteral("2시간 남음"));
        QCOMPARE(DurationText::remaining(4321), QStringLiteral("1시간 13분 남음"));
        QCOMPARE(DurationText::remaining(4320), QStringLiteral("1시간 12분 남음"));
        QCOMPARE(DurationText::remaining(61), QStringLiteral("2분 남음"));
        QCOMPARE(DurationText::remaining(60), QStringLiteral("1분 남음"));
        QCOMPARE(DurationText::remaining(59), QStringLiteral("59초 남음"));
        QCOMPARE(DurationText::remaining(-3), QStringLiteral("0초 남음"));
    }

    void headline()
    {
        const QDateTime now(QDate(2026, 12, 8), QTime(12, 0));
        const Headline fresh = Headline::of(true, now.addSecs(-10), now);
        QCOMPARE(fresh.title, QStringLiteral("Mac이 깨어 있습니다"));
        QCOMPARE(fresh.detail, std::optional<QString>(QStringLiteral("1분째")));
        QCOMPARE(fresh.symbol, QStringLiteral("sun.max"));

        QCOMPARE(Headline::of(true, now.addSecs(-5400 - 59), now).detail,
            std::optional<QString>(QStringLiteral("1시간 30분째")));
        // A start after now (the clock was set back) still reads one minute.
        QCOMPARE(Headline::of(true, now.addSecs(600), now).detail, std::optional<QString>(QStringLiteral("1분째")));

        QCOMPARE(Headline::of(true, std::nullopt, now),
            (Headline{ QStringLiteral("Mac이 깨어 있습니다"), std::nullopt, QStringLiteral("sun.max") }));
        QCOMPARE(Headline::of(false, now.addSecs(-10), now),
            (Headline{ QStringLiteral("Mac이 평소대로 잠듭니다"), std::nullopt, QStringLiteral("moon.zzz") }));
    }

    void daysAreNamedInKoreanWhateverTheSystemLocale()
    {
        // A C or English system locale must not leak English month names
        // into Korean lines ("3 Dec 2026").
        const QLocale system;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        QCOMPARE(dayText(QDate(2026, 12, 3)), QStringLiteral("12월 3일 (목)"));
        QCOMPARE(dayText(QDate(2027, 1, 10)), QStringLiteral("1월 10일 (일)"));
        QLocale::setDefault(system);
    }

    void settingRows()
    {
        const auto setting = [](const char *name, const char *value) {
            return PowerSetting{ QStringLiteral("Currently in use"), QString::fromUtf8(name),
                QString::fromUtf8(value) };
        };
        // Listing order does not matter; the first of a name wins.
        const QList<PowerSettingRow> rows = PowerSettingRow::rows({
            setting("womp", "1"),
            setting("powernap", "0"),
            setting("sleep", "10 (sleep prevented by backupd, coreaudiod)"),
            setting("sleep", "0"),
            setting("displaysleep", "0"),
            setting("SleepDisabled", "1"),
        });
        QCOMPARE(rows,
            (QList<PowerSettingRow>{
                { QStringLiteral("화면 끄기"), QStringLiteral("안 함"),
                    QStringLiteral("화면이 잠들기까지의 시간입니다.") },
                { QStringLiteral("Mac 잠자기"), QStringLiteral("10분 후"),
                    QStringLiteral("Mac이 잠들기까지의 시간입니다.") },
                { QStringLiteral("Power Nap"), QStringLiteral("꺼짐"),
                    QStringLiteral("이 Mac의 Power Nap 사용 여부입니다.") },
                { QStringLiteral("네트워크로 깨우기"), QStringLiteral("켜짐"),
                    QStringLiteral("네트워크 접근 시 깨우기 사용 여부입니다.") },
            }));
    }

    void settingsWithoutRows_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("on/off other than 0 or 1") << QStringLiteral("womp") << QStringLiteral("2");
        QTest::newRow("negative minutes") << QStringLiteral("sleep") << QStringLiteral("-5");
        QTest::newRow("not a number") << QStringLiteral("disksleep") << QStringLiteral("never");
        QTest::newRow("no value") << QStringLiteral("displaysleep") << QString();
        QTest::newRow("unknown key") << QStringLiteral("hibernatemode") << QStringLiteral("3");
        QTest::newRow("key differs in case") << QStringLiteral("Sleep") << QStringLiteral("10");
    }

    void settingsWithoutRows()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QVERIFY(PowerSettingRow::rows({ { std::nullopt, name, value } }).isEmpty());
    }

    void linuxListing()
    {
        // What wakora-pmset prints on Linux: only "sleep" makes a row.
        const QList<PowerSetting> listing
            = { { QStringLiteral("System-wide power settings"), QStringLiteral("SleepDisabled"), QStringLiteral("0") },
                  { QStringLiteral("Currently in use"), QStringLiteral("sleep"), QStringLiteral("15") } };
        QCOMPARE(PowerSettingRow::rows(listing),
            (QList<PowerSettingRow>{ { QStringLiteral("Mac 잠자기"), QStringLiteral("15분 후"),
                QStringLiteral("Mac이 잠들기까지의 시간입니다.") } }));
    }
};

QTEST_GUILESS_MAIN(TestStatusTexts)
#include "tst_statustexts.moc"
