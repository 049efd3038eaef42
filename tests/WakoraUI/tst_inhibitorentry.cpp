#include "InhibitorEntry.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

// What `wakora status` says of each holder: what it holds off, under which
// name, whether it is ours, and the JSON it prints.
class TestInhibitorEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void blockedBy_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("blocks");
        QTest::newRow("logind sleep") << u"sleep"_s << u"sleep"_s;
        QTest::newRow("logind idle") << u"idle"_s << u"idle"_s;
        QTest::newRow("logind idle:sleep") << u"idle:sleep"_s << u"sleep:idle"_s;
        QTest::newRow("with shutdown") << u"shutdown:sleep"_s << u"sleep"_s;
        QTest::newRow("the lid only") << u"handle-lid-switch"_s << QString();
        QTest::newRow("idle inside another word") << u"handle-idle-key"_s << QString();
        QTest::newRow("display type") << u"PreventUserIdleDisplaySleep"_s << u"idle"_s;
        QTest::newRow("system type") << u"PreventUserIdleSystemSleep"_s << u"sleep"_s;
        QTest::newRow("nothing") << QString() << QString();
    }

    void blockedBy()
    {
        QFETCH(QString, type);
        QFETCH(QString, blocks);
        QCOMPARE(InhibitorEntry::blockedBy(type), blocks);
    }

    void entriesOfTheMergedList()
    {
        const QList<ProcessAssertion> assertions{
            { 100, u"sleep"_s, u"Wakora: prevent system sleep"_s, u"Wakora"_s },
            { 100, u"idle"_s, u"Wakora: prevent display sleep"_s, u"Wakora"_s },
            { 4242, u"idle"_s, u"Playing video"_s, u"firefox-esr"_s },
            { 900, u"handle-power-key:handle-lid-switch"_s, u"Lid"_s, u"lidd"_s },
            { -1, u"sleep:idle"_s, QString(), u"Stand-alone"_s },
        };
        // The window names applications; ours must keep its own name, not
        // what the lookup would make of the agent's process.
        const FriendlyStatus::NameLookup names = [](qint32 pid) -> std::optional<QString> {
            if (pid == 4242)
                return u"Firefox ESR"_s;
            if (pid == 100)
                return u"Wrong"_s;
            return std::nullopt;
        };
        const QList<InhibitorEntry> entries = InhibitorEntry::fromAssertions(assertions, 100, names);
        const QList<InhibitorEntry> expected{
            { 100, u"Wakora"_s, u"sleep"_s, u"Wakora: prevent system sleep"_s, true },
            { 100, u"Wakora"_s, u"idle"_s, u"Wakora: prevent display sleep"_s, true },
            { 4242, u"Firefox ESR"_s, u"idle"_s, u"Playing video"_s, false },
            { -1, u"Stand-alone"_s, u"sleep:idle"_s, QString(), false },
        };
        QCOMPARE(entries, expected);

        QCOMPARE(entries.at(0).blocksText(), u"잠자기를 막는 중"_s);
        QCOMPARE(entries.at(2).blocksText(), u"화면 꺼짐을 막는 중"_s);
        QCOMPARE(entries.at(3).blocksText(), u"잠자기와 화면 꺼짐을 막는 중"_s);
        QCOMPARE(QJsonDocument(entries.at(2).toJson()).toJson(QJsonDocument::Compact),
            QByteArray(R"({"blocks":"idle","name":"Firefox ESR","ours":false,"pid":4242,"reason":"Playing video"})"));
    }
};

QTEST_GUILESS_MAIN(TestInhibitorEntry)

#include "tst_inhibitorentry.moc"
