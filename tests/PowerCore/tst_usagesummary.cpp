#include "UsageSampling.h"
#include "UsageStore.h"
#include "UsageSummary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;

// The summary as the interface and the agent's peer see it, and the two
// sampling steps the recorder builds on.
class TestUsageSummary : public QObject
{
    Q_OBJECT

    static QDateTime day(int dayOfMonth)
    {
        return QDateTime(QDate(2026, 3, dayOfMonth), QTime(0, 0), QTimeZone::utc());
    }

private Q_SLOTS:
    void derivedValues()
    {
        UsageSummary summary;
        QCOMPARE(summary.dailyAverage(), 0.0);
        QVERIFY(summary.isEmpty());
        for (int offset = 0; offset < 7; ++offset)
            summary.days.append({ day(1 + offset), offset == 3 ? 3600.0 : 0.0 });
        QVERIFY(qAbs(summary.dailyAverage() - 514.2857) < 0.001);
        QVERIFY(!summary.isEmpty());

        summary.days[3].seconds = 0;
        QVERIFY(summary.isEmpty());
        summary.apps.append({ u"Mail"_s, 0 });
        QVERIFY(!summary.isEmpty());
    }

    void jsonShapeAndRoundTrip()
    {
        const UsageSummary summary{
            { { day(9), 3600.5 }, { day(10), 0 } },
            { { u"웹 브라우저"_s, 42 }, { u"Mail"_s, 1 } },
        };
        const QJsonObject object = QJsonDocument::fromJson(summary.toJson()).object();
        QCOMPARE(object.keys(), QStringList({ u"apps"_s, u"days"_s }));
        const QJsonObject first = object.value(u"days").toArray().at(0).toObject();
        // 2026-03-09 00:00 UTC is 794,707,200 s after 2001-01-01 00:00 UTC.
        QCOMPARE(first.value(u"date").toDouble(), 794707200.0);
        QCOMPARE(first.value(u"seconds").toDouble(), 3600.5);
        QCOMPARE(object.value(u"apps").toArray().at(0).toObject(),
            QJsonObject({ { u"name"_s, u"웹 브라우저"_s }, { u"minutes"_s, 42 } }));

        const auto decoded = UsageSummary::fromJson(summary.toJson());
        QVERIFY(decoded);
        QCOMPARE(decoded.value(), summary);
        QCOMPARE(UsageSummary::fromJson(UsageSummary().toJson()).value(), UsageSummary());
    }

    void malformedJsonIsRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not JSON") << QByteArray("days");
        QTest::newRow("array") << QByteArray("[]");
        QTest::newRow("no apps") << QByteArray(R"({"days":[]})");
        QTest::newRow("date is text") << QByteArray(R"({"days":[{"date":"x","seconds":1}],"apps":[]})");
        QTest::newRow("no seconds") << QByteArray(R"({"days":[{"date":1}],"apps":[]})");
        QTest::newRow("fractional minutes") << QByteArray(R"({"days":[],"apps":[{"name":"a","minutes":0.5}]})");
        QTest::newRow("nameless app") << QByteArray(R"({"days":[],"apps":[{"minutes":1}]})");
    }

    void malformedJsonIsRefused()
    {
        QFETCH(QByteArray, json);
        const auto decoded = UsageSummary::fromJson(json);
        QVERIFY(!decoded);
        QVERIFY(decoded.error().startsWith(u"usage summary"));
    }

    void appNamesAskOncePerForeignPid()
    {
        const QList<ProcessAssertion> assertions{
            { 10, u"sleep"_s, u"a"_s, std::nullopt }, { 10, u"idle"_s, u"b"_s, std::nullopt },
            { 7, u"sleep"_s, {}, std::nullopt }, // our own
            { 11, u"sleep"_s, {}, std::nullopt }, { 12, u"sleep"_s, {}, std::nullopt }, // no application
        };
        QList<qint32> asked;
        const auto lookup = [&](qint32 pid) -> std::optional<QString> {
            asked.append(pid);
            if (pid == 12)
                return std::nullopt;
            return pid == 7 ? u"Wakora"_s : u"Browser"_s;
        };
        QStringList names = UsageSampling::appNames(assertions, 7, lookup);
        QCOMPARE(names, QStringList({ u"Browser"_s, u"Browser"_s }));
        QCOMPARE(asked, QList<qint32>({ 10, 11, 12 }));
    }

    void powerChangedOpensAndClosesSessions()
    {
        // The times come with the change; the store's own clock plays no part.
        UsageStore store(QString(), [] { return day(20); });
        const QDateTime since = day(10).addSecs(3600);
        UsageSampling::powerChanged(since, since.addSecs(5), store);
        UsageSampling::powerChanged(since.addSecs(30), since.addSecs(30), store); // still on: the same session
        UsageSampling::powerChanged(std::nullopt, since.addSecs(60), store);
        UsageSampling::powerChanged(std::nullopt, since.addSecs(90), store); // nothing open: nothing
        QCOMPARE(store.contents().sessions, QList<UsageStore::Session>({ { since, since.addSecs(60) } }));
        QCOMPARE(store.contents().lastSeen, since.addSecs(60));
    }
};

QTEST_GUILESS_MAIN(TestUsageSummary)
#include "tst_usagesummary.moc"
