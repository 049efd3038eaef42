#include "ClaimTexts.h"

#include <QTest>

using namespace Qt::StringLiterals;

// A trigger's claim in the interface's words: what it watches, about its
// subject, with the kinds as every other claim says them.
class TestClaimTexts : public QObject
{
    Q_OBJECT

    static QString text(const QString &trigger, qint64 kinds, const QString &subject)
    {
        const Claim claim{ Claim::triggerOwner(trigger), kinds, std::nullopt, subject };
        return ClaimTexts::of(claim, QDateTime::currentDateTimeUtc());
    }

private Q_SLOTS:
    void eachTriggerSaysWhy_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<qint64>("kinds");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("expected");
        QTest::newRow("media") << u"media"_s << qint64(3) << u"mpv"_s << u"mpv에서 재생 중 (디스플레이 포함)"_s;
        QTest::newRow("media, system only") << u"media"_s << qint64(1) << u"mpv"_s << u"mpv에서 재생 중"_s;
        QTest::newRow("fullscreen") << u"fullscreen"_s << qint64(3) << u"YouTube - Firefox"_s
                                    << u"전체 화면: YouTube - Firefox (디스플레이 포함)"_s;
        QTest::newRow("remote") << u"remote"_s << qint64(1) << u"ana@10.0.0.5"_s << u"원격 로그인: ana@10.0.0.5"_s;
        QTest::newRow("busy, network") << u"busy"_s << qint64(1) << u"네트워크"_s << u"네트워크 사용량이 많음"_s;
        QTest::newRow("busy, CPU, display only")
            << u"busy"_s << qint64(2) << u"CPU"_s << u"CPU 사용량이 많음 (디스플레이)"_s;
        QTest::newRow("schedule") << u"schedule"_s << qint64(1) << u"mon-fri 09:00-18:00"_s
                                  << u"일정: mon-fri 09:00-18:00"_s;
        // A trigger of a newer agent than this program: its subject, or its name.
        QTest::newRow("unknown, subject") << u"bluetooth"_s << qint64(1) << u"헤드폰 연결됨"_s << u"헤드폰 연결됨"_s;
        QTest::newRow("unknown, no subject") << u"bluetooth"_s << qint64(1) << QString() << u"bluetooth"_s;
    }

    void eachTriggerSaysWhy()
    {
        QFETCH(QString, trigger);
        QFETCH(qint64, kinds);
        QFETCH(QString, subject);
        QFETCH(QString, expected);
        QCOMPARE(text(trigger, kinds, subject), expected);
    }

    void theOwnerNamesTheTrigger()
    {
        const Claim claim{ Claim::triggerOwner(QStringLiteral("busy")), 1, std::nullopt, QString() };
        QVERIFY(claim.isTrigger());
        QCOMPARE(claim.triggerName(), QStringLiteral("busy"));
        QVERIFY(!(Claim{ Claim::applicationOwner(), 1, std::nullopt, QString() }).isTrigger());
        QCOMPARE(
            (Claim{ Claim::holdOwner(QStringLiteral(":1.4")), 1, std::nullopt, QString() }).triggerName(), QString());
    }
};

QTEST_GUILESS_MAIN(TestClaimTexts)
#include "tst_claimtexts.moc"
